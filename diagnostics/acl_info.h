// Targets and findings of the access-control report.
#pragma once

class CACLInfo {
public:
};
