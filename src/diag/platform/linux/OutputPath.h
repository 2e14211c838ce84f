#pragma once
// Following the links of an output path in user space (Linux). The kernel's
// fs.protected_symlinks rule only guards links the kernel follows itself; a
// path resolved here must apply it here, or a link another user planted in
// /tmp would make us replace a file of ours, or of root's, that it points to.
#include <string>

namespace qrt::diag::platform {

// The path szPath names with every link in it followed: absolute, without
// links, "." or "..". Its last part may be missing (a file to create); every
// other part must be a folder. A link that sits in a sticky, world-writable
// folder is followed only when it belongs to this user or to the folder's
// owner. False with szError when a link is refused (which link, in which
// folder), a part is missing or not a folder, or there are more than 40
// links (the system's text for that error).
bool ResolveOutputPath(const std::string& szPath, std::string& szResolved, std::string& szError);

}  // namespace qrt::diag::platform
