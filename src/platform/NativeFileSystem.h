#pragma once

#include <memory>

#include "platform/FileSystem.h"

namespace dormex {

// The files and environment of the system the program runs on. The build
// compiles the one implementation that fits (Win32 or POSIX).
std::unique_ptr<FileSystem> MakeNativeFileSystem();

}  // namespace dormex
