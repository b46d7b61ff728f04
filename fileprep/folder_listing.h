// What the file chooser shows of the file system: a folder's files under a mask, its
// subfolders, and the drives (drive letters on Windows, mount points elsewhere). Hidden files
// and folders are left out, and only real files and folders are listed: a link counts as what
// it leads to, so a link to a device (a pseudo-terminal) is neither.
#pragma once

#include <string>
#include <vector>

// True when `name` matches one of `masks` ("*" any run, "?" one character), without regard
// to case, as Windows matches names. "*.*" means every file, as it does there.
bool NameMatchesMask(const std::string& name, const std::vector<std::string>& masks);

// The names (without folder) of the ordinary files of `folder` that match `masks`, in name
// order (case aside). A folder that cannot be read lists nothing.
std::vector<std::string> ListFiles(const std::string& folder,
                                   const std::vector<std::string>& masks);
// The names of `folder`'s subfolders, in name order.
std::vector<std::string> ListSubfolders(const std::string& folder);
// `folder` and the folders above it, outermost (the root) first.
std::vector<std::string> FolderChain(const std::string& folder);

// The drives: "C:\", "D:\" ... on Windows; the mount points of real file systems elsewhere.
std::vector<std::string> ListDrives();
// The drive (or mount point) that `folder` lies on.
std::string DriveOf(const std::string& folder);

// `folder` made absolute and tidy (no "." or "..", no trailing separator but the root's).
std::string CleanFolder(const std::string& folder);
