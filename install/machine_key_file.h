// The machine key file qrmk.dat in the all-users application data folder: reading, checking and writing
// it. Its layout and key are the image's (machine_key_image.h).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "common/singleton.h"
#include "install/machine_key_image.h"

// The file operations on an explicit path (the singleton's operations use the machine's path).
[[nodiscard]] uint32_t VerifyMachineKeyFileAt(const wchar_t* path);
[[nodiscard]] bool CreateMachineKeyFileAt(const wchar_t* path, const std::function<int()>& nextRandom);

class CQrMachineKeyFile : public Singleton2<CQrMachineKeyFile> {
public:
    // Seeds the C run-time generator of the creating thread with the current time.
    CQrMachineKeyFile();
    virtual ~CQrMachineKeyFile() = default;

    CQrMachineKeyFile(const CQrMachineKeyFile&) = delete;
    CQrMachineKeyFile& operator=(const CQrMachineKeyFile&) = delete;

    // "<all-users application data>\Orlyn\Common\qrmk.dat" into a buffer of MAX_PATH units, creating the
    // two folders. False when the data folder is unknown, a folder cannot be made or the path is too long.
    [[nodiscard]] bool MachineKeyFilePath(wchar_t* path);
    // The key of the existing file, or 0 when there is no valid file.
    [[nodiscard]] uint32_t VerifyMachineKeyFile();
    // Writes a new file with rand(), replacing any existing one.
    [[nodiscard]] bool CreateMachineKeyFile();
};
