// The payload manifest: the files this program carries and how each is installed.
#pragma once

class PayloadList {
public:
};
