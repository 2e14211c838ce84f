// The links of an output path, followed by the rule the kernel applies with
// fs.protected_symlinks (Linux). Links of another user need root to make.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "OutputPath.h"
#include "TestDirectory.h"

namespace fs = std::filesystem;

TEST(OutputPath, FollowsLinksInSharedFoldersOnlyForTheirOwners) {
  if (::geteuid() != 0) GTEST_SKIP() << "links of another user need root";
  constexpr uid_t kOther = 4242;
  const fs::path base = qrt::test::MakeTestDirectory("qrt-links-");
  ASSERT_FALSE(base.empty());
  const std::string b = fs::canonical(base).string();
  // shared: a private /tmp (sticky, world-writable); ours: a second one that
  // belongs to the other user; plain: an ordinary folder.
  for (const char* psz : {"home", "shared", "ours", "plain"}) fs::create_directory(b + "/" + psz);
  ASSERT_EQ(::chmod((b + "/shared").c_str(), 01777), 0);
  ASSERT_EQ(::chmod((b + "/ours").c_str(), 01777), 0);
  ASSERT_EQ(::chown((b + "/ours").c_str(), kOther, kOther), 0);
  const std::string rc = b + "/home/rc";
  { std::ofstream(rc) << "keep"; }
  const auto link = [&](const std::string& szTarget, const std::string& szName, bool bOther) {
    ASSERT_EQ(::symlink(szTarget.c_str(), (b + "/" + szName).c_str()), 0) << szName;
    if (bOther) {
      ASSERT_EQ(::lchown((b + "/" + szName).c_str(), kOther, kOther), 0);
    }
  };
  link("../home/rc", "shared/mine", false);
  link(rc, "shared/theirs", true);
  link(b + "/home", "shared/theirs-dir", true);
  link("theirs", "shared/chain", false);
  link(rc, "plain/theirs", true);
  link(rc, "ours/owners", true);
  link("loop", "shared/loop", false);

  const struct {
    std::string szPath;
    std::string szResolved;  // empty: refused
    const char* pszWhy = "";
  } cases[] = {
      {b + "/shared/mine", rc},
      {b + "/plain/theirs", rc},
      {b + "/ours/owners", rc},  // the folder's owner's link
      {b + "/home/../shared/./mine", rc},
      {b + "/shared/new.bin", b + "/shared/new.bin"},
      {b + "/shared/theirs", "", "shared/theirs is a link of another user in the shared folder"},
      {b + "/shared/theirs-dir/rc", "", "shared/theirs-dir is a link of another user"},
      {b + "/shared/chain", "", "shared/theirs is a link of another user"},
      {b + "/shared/loop", "", "Too many levels of symbolic links"},
      {b + "/shared/missing/x.bin", "", "No such file"},
      {rc + "/x.bin", "", "Not a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.szPath);
    std::string szResolved = "unchanged", szError;
    const bool bOk = qrt::diag::platform::ResolveOutputPath(c.szPath, szResolved, szError);
    EXPECT_EQ(bOk, !c.szResolved.empty()) << szError;
    EXPECT_EQ(szResolved, bOk ? c.szResolved : "unchanged");
    EXPECT_NE(szError.find(c.pszWhy), std::string::npos) << szError;
  }
  fs::remove_all(base);
}
