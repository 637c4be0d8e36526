#pragma once
// Linux only: the user's home folder, as the native (UTF-8) path.
#include <string>

// $HOME when it is an absolute path, otherwise the home folder of the user
// database; without a trailing "/" (but "/" itself).  Empty when neither
// names an absolute path.
std::string HomeFolderNative();
