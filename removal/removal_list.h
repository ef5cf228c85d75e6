// The built-in description of the old module: processes, registry rows, files and folders.
#pragma once

class RemovalList {
public:
};
