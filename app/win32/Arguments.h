// The command line of a Win32 program as UTF-8 arguments, without the program's name.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>

#include "ui/win32/Wide.h"

namespace korvel::win32 {

inline std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; words && i < count; ++i) args.push_back(Narrow(words[i]));
  if (words) LocalFree(words);
  return args;
}

}  // namespace korvel::win32
