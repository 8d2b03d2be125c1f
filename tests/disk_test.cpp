// The emulated disk: the host's file calls, the mount table, and the
// sandbox that nothing the plug-in can name may leave.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "sim_fixture.h"

// Offered by the emulator's host, looked up by name by the plug-in.
extern "C" TAP_Hdd_RenameFn TAP_Hdd_Rename;

namespace {

namespace fs = std::filesystem;

class DiskTest : public SimTest {};

// As the plug-in writes its log: opened, the length asked, written at the end.
bool write(const char *name, const std::string &text)
{
  TYPE_File *f = TAP_Hdd_Fopen(name);
  if(f == nullptr) return false;
  TAP_Hdd_Fseek(f, static_cast<long>(TAP_Hdd_Flen(f)), SEEK_ORIGIN_START);
  bool ok = TAP_Hdd_Fwrite(text.data(), static_cast<dword>(text.size()), 1, f) == 1;
  TAP_Hdd_Fclose(f);
  return ok;
}

std::string read(TYPE_File *f)
{
  std::string text(TAP_Hdd_Flen(f), '\0');
  TAP_Hdd_Fseek(f, 0, SEEK_ORIGIN_START);
  if(TAP_Hdd_Fread(text.data(), 1, static_cast<dword>(text.size()), f) != text.size()) text = "(short read)";
  return text;
}

std::string read(const char *name)
{
  TYPE_File *f = TAP_Hdd_Fopen(name);
  if(f == nullptr) return "(no file)";
  std::string text = read(f);
  TAP_Hdd_Fclose(f);
  return text;
}

TEST_F(DiskTest, NormalisesPathsAndStopsAtTheRoot)
{
  const struct {
    const char *in;
    const char *out;
  } cases[] = {
    {"/", "/"}, {"", "/"}, {"//mnt///hd/", "/mnt/hd"}, {"/mnt/./hd/../hd/x", "/mnt/hd/x"},
    {"/..", "/"}, {"/../../etc/passwd", "/etc/passwd"}, {"/a/b/../../../..", "/"},
  };
  for(const auto &c : cases)
  {
    std::string out;
    ASSERT_TRUE(sim::Disk::Normalize(c.in, &out)) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
  }
  std::string out;
  EXPECT_FALSE(sim::Disk::Normalize("/mnt/" + std::string(256, 'n'), &out)) << "name over 255 bytes";
  EXPECT_FALSE(sim::Disk::Normalize(std::string(4096, '/'), &out)) << "path over 4095 bytes";
}

TEST_F(DiskTest, EveryPathTheTapCanNameStaysInTheSandbox)
{
  sim::Receiver &r = Boot();
  const std::string root = fs::weakly_canonical(config.root).string();
  const char *names[] = {"..", "../..", "/../../../etc/passwd", "/mnt/hd/../../etc", "../../../tmp/x",
                         "a/../../../../b", "/./../.", "//../..//x"};
  for(const char *name : names)
  {
    std::string host;
    if(r.hdd().HostPath(name, &host))
      EXPECT_EQ(fs::weakly_canonical(host).string().rfind(root + "/mnt/hd", 0), 0u) << name << " -> " << host;
    if(r.disk().HostPath(name, "/", &host))
      EXPECT_EQ(fs::weakly_canonical(host).string().rfind(root, 0), 0u) << name << " -> " << host;
  }
  // ".." at the disk's root stays at the disk's root.
  EXPECT_EQ(TAP_Hdd_ChangeDir("/../../.."), config.chdir_success);
  EXPECT_EQ(r.hdd().current(), "/");
  EXPECT_EQ(TAP_Hdd_Create("../../../escaped", ATTR_NORMAL), 1);
  EXPECT_TRUE(Exists("/mnt/hd/escaped"));
  EXPECT_FALSE(Exists("/escaped"));
}

// A link is followed as the receiver's kernel would, but its target is a
// path on the receiver: "/" is the sandbox's root, never the PC's.
TEST_F(DiskTest, SymbolicLinksNeverLeadOutOfTheSandbox)
{
  sim::Receiver &r = Boot();
  fs::create_directory_symlink("/", HostPath("/mnt/hd/link"));
  fs::create_symlink("loop", HostPath("/mnt/hd/loop"));
  r.disk().Forget();
  std::string host;
  ASSERT_TRUE(r.hdd().HostPath("link/etc/passwd", &host));
  EXPECT_EQ(host, r.disk().host_root() + "/etc/passwd");
  EXPECT_EQ(TAP_Hdd_Fopen("link/etc/passwd"), nullptr);
  EXPECT_EQ(TAP_Hdd_Exist("link/mnt/hd"), 1);
  EXPECT_FALSE(r.disk().HostPath("/mnt/hd/loop/x", "/", &host)) << "a loop of links ends";
}

TEST_F(DiskTest, OverlongNamesAreRefused)
{
  Boot();
  std::string name(300, 'x');
  EXPECT_EQ(TAP_Hdd_Create(name.c_str(), ATTR_NORMAL), 0);
  EXPECT_EQ(TAP_Hdd_Exist(name.c_str()), 0);
  EXPECT_EQ(TAP_Hdd_Fopen(name.c_str()), nullptr);
}

TEST_F(DiskTest, FilesAndFoldersRelativeToTheCurrentFolder)
{
  sim::Receiver &r = Boot();
  MakeDir("/mnt/hd/ProgramFiles/Settings");
  ASSERT_EQ(TAP_Hdd_ChangeDir("/ProgramFiles"), 1);
  EXPECT_EQ(r.hdd().current(), "/ProgramFiles");
  ASSERT_EQ(TAP_Hdd_ChangeDir("Settings/"), 1);
  EXPECT_EQ(r.hdd().current(), "/ProgramFiles/Settings");
  EXPECT_EQ(TAP_Hdd_ChangeDir("Missing"), 0);
  EXPECT_EQ(r.hdd().current(), "/ProgramFiles/Settings");

  EXPECT_EQ(TAP_Hdd_Exist("new.ini"), 0);
  EXPECT_EQ(TAP_Hdd_Create("new.ini", ATTR_NORMAL), 1);
  EXPECT_EQ(TAP_Hdd_Create("Sub", ATTR_FOLDER), 1);
  EXPECT_TRUE(fs::is_directory(HostPath("/mnt/hd/ProgramFiles/Settings/Sub")));

  TYPE_File *f = TAP_Hdd_Fopen("new.ini");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TAP_Hdd_Fwrite("Key=1\r\n", 7, 1, f), 1u);
  EXPECT_EQ(TAP_Hdd_Flen(f), 7u);
  TAP_Hdd_Fseek(f, 0, SEEK_ORIGIN_END);
  EXPECT_EQ(TAP_Hdd_Fwrite("K2=2\r\n", 6, 1, f), 1u);
  TAP_Hdd_Fseek(f, 0, SEEK_ORIGIN_START);
  char text[32] = {};
  EXPECT_EQ(TAP_Hdd_Fread(text, 13, 1, f), 1u);
  EXPECT_STREQ(text, "Key=1\r\nK2=2\r\n");
  EXPECT_EQ(TAP_Hdd_Fread(text, 13, 1, f), 0u) << "nothing left to read";
  TAP_Hdd_Fclose(f);

  // A create never replaces what is there.
  EXPECT_EQ(TAP_Hdd_Create("new.ini", ATTR_NORMAL), 0);
  EXPECT_EQ(ReadFile("/mnt/hd/ProgramFiles/Settings/new.ini"), "Key=1\r\nK2=2\r\n");
  EXPECT_EQ(TAP_Hdd_Delete("new.ini"), 1);
  EXPECT_EQ(TAP_Hdd_Exist("new.ini"), 0);
  EXPECT_EQ(TAP_Hdd_Fopen("Sub"), nullptr) << "a folder is not a file";
}

// The disk remembers what it saw at names, and keeps files the plug-in
// closed open for the next open: neither may hide a change.
TEST_F(DiskTest, WhatTheDiskRemembersFollowsEveryChange)
{
  sim::Receiver &r = Boot();
  EXPECT_EQ(TAP_Hdd_Exist("A/x"), 0);
  EXPECT_EQ(r.shell().Run("mkdir /mnt/hd/A"), 0);
  EXPECT_EQ(TAP_Hdd_ChangeDir("A"), 1) << "a folder made by the shell where nothing was";
  EXPECT_EQ(TAP_Hdd_ChangeDir("/"), 1);
  EXPECT_EQ(r.shell().Run("rmdir /mnt/hd/A"), 0);
  EXPECT_EQ(TAP_Hdd_ChangeDir("A"), 0) << "a folder the shell removed";
  EXPECT_EQ(TAP_Hdd_Create("A", ATTR_NORMAL), 1);
  EXPECT_EQ(TAP_Hdd_ChangeDir("A"), 0) << "now a file";

  ASSERT_TRUE(write("A", "one "));
  ASSERT_TRUE(write("A", "two "));
  EXPECT_EQ(read("A"), "one two ") << "each open starts at the beginning";

  // Removed and made anew, by the plug-in, the shell or from outside: the
  // new file is read, not the one still open behind the scenes.
  EXPECT_EQ(TAP_Hdd_Delete("A"), 1);
  EXPECT_EQ(TAP_Hdd_Create("A", ATTR_NORMAL), 1);
  EXPECT_EQ(read("A"), "");
  ASSERT_TRUE(write("A", "three"));
  EXPECT_EQ(r.shell().Run("ps > /mnt/hd/A"), 0);
  EXPECT_EQ(read("A"), r.processes().PsOutput());
  fs::remove(HostPath("/mnt/hd/A"));
  WriteFile("/mnt/hd/A", "from outside");
  EXPECT_EQ(read("A"), "from outside");

  // Seeks: from the end, and never before the start.
  TYPE_File *f = TAP_Hdd_Fopen("A");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TAP_Hdd_Fseek(f, -7, SEEK_ORIGIN_END), 5u);
  EXPECT_EQ(TAP_Hdd_Fseek(f, -6, SEEK_ORIGIN_CURRENT), 5u) << "refused";
  char word[8] = {};
  EXPECT_EQ(TAP_Hdd_Fread(word, 7, 1, f), 1u);
  EXPECT_STREQ(word, "outside");
  EXPECT_EQ(TAP_Hdd_Fread(word, 1, 1, f), 0u);
  TAP_Hdd_Fclose(f);
}

// The ping reports and process lists the shell writes while the plug-in
// runs stay in memory while only the plug-in reads and deletes them; every
// other reader, and the disk after the call, must find the same file.
TEST_F(DiskTest, AFileTheShellMakesInAPluginCallIsTheSameForEveryReader)
{
  sim::Receiver &r = Boot();
  const std::string ps = r.processes().PsOutput();
  MakeDir("/mnt/hd/R");
  // Looked at on the PC, past the receiver, which would write them out.
  const std::string folder = HostPath("/mnt/hd/R");
  auto on_disk = [&](const char *name) {
    std::ifstream in(folder + "/" + name, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(missing)";
  };
  r.InPlugin([&] {
    EXPECT_EQ(r.shell().Run("ps > /mnt/hd/R/a.txt"), 0);
    EXPECT_EQ(on_disk("a.txt"), "(missing)") << "made on the disk, and deleted, for nothing";
    EXPECT_EQ(TAP_Hdd_Exist("R/a.txt"), 1);
    TYPE_File *open = TAP_Hdd_Fopen("R/a.txt");
    EXPECT_EQ(TAP_Hdd_Delete("R/a.txt"), 1);
    EXPECT_EQ(TAP_Hdd_Exist("R/a.txt"), 0);
    EXPECT_EQ(open != nullptr ? read(open) : "(no file)", ps) << "an open file outlives its name";
    TAP_Hdd_Fclose(open);

    EXPECT_EQ(r.shell().Run("ps > /mnt/hd/R/b.txt"), 0);
    TYPE_File *before = TAP_Hdd_Fopen("R/b.txt");
    EXPECT_EQ(r.shell().Run("rmdir /mnt/hd/R"), 1 << 8) << "a folder holding the report is not empty";
    EXPECT_EQ(ReadFile("/mnt/hd/R/b.txt"), ps);
    EXPECT_EQ(before != nullptr ? read(before) : "(no file)", ps) << "opened before it was written out";
    TAP_Hdd_Fclose(before);

    EXPECT_EQ(r.shell().Run("ps > /mnt/hd/R/c.txt"), 0);
    EXPECT_TRUE(write("R/c.txt", "more"));
    EXPECT_EQ(TAP_Hdd_Rename("R/c.txt", "R/d.txt"), 1);
    EXPECT_EQ(r.shell().Run("ps > /mnt/hd/R/e.txt"), 0);
    EXPECT_TRUE(write("R/e.txt", "left"));
    return 0;
  });
  EXPECT_EQ(on_disk("d.txt"), ps + "more");
  EXPECT_EQ(on_disk("e.txt"), ps + "left") << "left at the end of the call";
  EXPECT_EQ(on_disk("a.txt"), "(missing)");
  EXPECT_EQ(on_disk("c.txt"), "(missing)");
}

// The log's length is remembered between lines; a write through another
// open file or by the shell must not leave it stale, or lines overwrite
// each other.
TEST_F(DiskTest, AFilesLengthFollowsEveryWriter)
{
  sim::Receiver &r = Boot();
  ASSERT_EQ(TAP_Hdd_Create("L", ATTR_NORMAL), 1);
  TYPE_File *a = TAP_Hdd_Fopen("L"), *b = TAP_Hdd_Fopen("L");
  ASSERT_TRUE(a != nullptr && b != nullptr);
  EXPECT_EQ(TAP_Hdd_Flen(a) + TAP_Hdd_Flen(b), 0u);
  EXPECT_EQ(TAP_Hdd_Fwrite("12345", 5, 1, a), 1u);
  EXPECT_EQ(TAP_Hdd_Flen(b), 5u);
  TAP_Hdd_Fclose(a);
  TAP_Hdd_Fclose(b);
  EXPECT_TRUE(write("L", "678"));
  EXPECT_EQ(read("L"), "12345678");
  EXPECT_EQ(r.shell().Run("ps > /mnt/hd/L"), 0);
  EXPECT_TRUE(write("L", "!"));
  EXPECT_EQ(ReadFile("/mnt/hd/L"), r.processes().PsOutput() + "!");

  // In a plug-in call the lines are gathered: whoever looks sees them all,
  // and none lands in the file that takes the name (or the descriptor) next.
  ASSERT_EQ(TAP_Hdd_Create("M", ATTR_NORMAL), 1);
  ASSERT_EQ(TAP_Hdd_Create("N", ATTR_NORMAL), 1);
  const std::string on_disk = HostPath("/mnt/hd/M");
  r.InPlugin([&] {
    EXPECT_TRUE(write("M", "a"));
    EXPECT_TRUE(write("M", "b"));
    EXPECT_EQ(ReadFile("/mnt/hd/M"), "ab");
    EXPECT_TRUE(write("M", "c"));
    EXPECT_EQ(TAP_Hdd_Delete("M"), 1);
    EXPECT_EQ(read("N"), "");
    EXPECT_EQ(TAP_Hdd_Create("M", ATTR_NORMAL), 1);
    EXPECT_TRUE(write("M", "new"));
    EXPECT_EQ(read("M"), "new");
    EXPECT_TRUE(write("M", "er"));
    return 0;
  });
  std::ifstream in(on_disk, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "newer") << "on the disk when the call ends";
}

TEST_F(DiskTest, NullHandlesAndNamesAreHarmless)
{
  Boot();
  char buffer[4];
  EXPECT_EQ(TAP_Hdd_Fread(buffer, 1, 4, nullptr), 0u);
  EXPECT_EQ(TAP_Hdd_Fwrite(buffer, 1, 4, nullptr), 0u);
  EXPECT_EQ(TAP_Hdd_Flen(nullptr), 0u);
  EXPECT_EQ(TAP_Hdd_Fseek(nullptr, 0, 0), 0u);
  TAP_Hdd_Fclose(nullptr);
  EXPECT_EQ(TAP_Hdd_Fopen(nullptr), nullptr);
  EXPECT_EQ(TAP_Hdd_Exist(nullptr), 0);
  EXPECT_EQ(TAP_Hdd_Create(nullptr, ATTR_NORMAL), 0);
  EXPECT_EQ(TAP_Hdd_Delete(nullptr), 0);
  EXPECT_EQ(TAP_Hdd_ChangeDir(nullptr), 0);
}

TEST_F(DiskTest, TheOtherReceiverGenerationAnswersZeroForSuccess)
{
  config.chdir_success = 0;
  sim::Receiver &r = Boot();
  MakeDir("/mnt/hd/ProgramFiles");
  EXPECT_EQ(TAP_Hdd_ChangeDir("/ProgramFiles"), 0);
  EXPECT_EQ(r.hdd().current(), "/ProgramFiles");
  EXPECT_EQ(TAP_Hdd_ChangeDir("/Nowhere"), 1);
  EXPECT_EQ(r.hdd().current(), "/ProgramFiles");
}

TEST_F(DiskTest, TheFirmwareFolderObjectFollowsTheCurrentFolder)
{
  sim::Receiver &r = Boot();
  MakeDir("/mnt/hd/ProgramFiles/Settings");
  auto folder_text = [&]() {
    FirmwareWord *row = r.task_row();
    auto *object = reinterpret_cast<FirmwareWord *>(row[TAP_TASK_FOLDER_WORD]);
    return std::string(reinterpret_cast<const char *>(object[TAP_FOLDER_PATH_WORD]));
  };
  EXPECT_EQ(folder_text(), "/mnt/hd/");
  TAP_Hdd_ChangeDir("/ProgramFiles/Settings");
  EXPECT_EQ(folder_text(), "/mnt/hd/ProgramFiles/Settings");
  TAP_Hdd_ChangeDir("..");
  EXPECT_EQ(folder_text(), "/mnt/hd/ProgramFiles");
}

TEST_F(DiskTest, MountsShowTheirContentAtTheMountPointUntilUnmounted)
{
  sim::Receiver &r = Boot();
  MakeDir("/mnt/hd/DataFiles");
  WriteFile("/mnt/hd/DataFiles/local.rec", "local");
  WriteFile("/mnt/hd/DataFilesOld/old.rec", "old");  // the mount point's name and more
  Sandbox nas;
  fs::create_directories(nas.path() + "/export/sub");
  std::ofstream(nas.path() + "/export/remote.rec") << "remote";

  std::string error;
  // Bind first: the local recordings stay reachable once the export covers them.
  MakeDir("/mnt/hd/DF_local");
  std::string local_host;
  ASSERT_TRUE(r.disk().HostPath("/mnt/hd/DataFiles", "/", &local_host));
  ASSERT_TRUE(r.disk().Mount("/mnt/hd/DF_local", local_host, "/mnt/hd/DataFiles", "bind", "", &error)) << error;
  ASSERT_TRUE(r.disk().Mount("/mnt/hd/DataFiles", nas.path() + "/export", "nas:/export", "nfs", "", &error)) << error;

  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/remote.rec"), "remote");
  EXPECT_EQ(ReadFile("/mnt/hd/DF_local/local.rec"), "local");
  EXPECT_EQ(ReadFile("/mnt/hd/DataFilesOld/old.rec"), "old") << "a mount covers names below it only";
  EXPECT_EQ(TAP_Hdd_ChangeDir("/DataFiles/sub"), 1);
  EXPECT_EQ(TAP_Hdd_Create("new.rec", ATTR_NORMAL), 1);
  EXPECT_TRUE(fs::exists(nas.path() + "/export/sub/new.rec")) << "writes land on the server";
  EXPECT_FALSE(fs::exists(local_host + "/sub"));
  EXPECT_EQ(TAP_Hdd_Delete("/DataFiles"), 0) << "a mount point cannot be deleted";

  EXPECT_FALSE(r.disk().Mount("/mnt/hd/Nowhere", nas.path(), "x", "nfs", "", &error)) << "no folder to mount on";
  EXPECT_TRUE(r.disk().Unmount("/mnt/hd/DataFiles", &error)) << error;
  EXPECT_EQ(ReadFile("/mnt/hd/DataFiles/local.rec"), "local");
  EXPECT_FALSE(r.disk().Unmount("/mnt/hd/DataFiles", &error));
  EXPECT_TRUE(r.disk().Unmount("/mnt/hd/DF_local", &error));
  EXPECT_EQ(r.disk().mounts().size(), 1u);
}

TEST_F(DiskTest, AMountWithAnotherInsideItIsBusy)
{
  sim::Receiver &r = Boot();
  Sandbox nas;
  fs::create_directories(nas.path() + "/a/inner");
  MakeDir("/mnt/hd/MediaFiles");
  MakeDir("/mnt/hd/MediaFiles2");
  std::string error;
  ASSERT_TRUE(r.disk().Mount("/mnt/hd/MediaFiles", nas.path() + "/a", "n:/a", "nfs", "", &error));
  ASSERT_TRUE(r.disk().Mount("/mnt/hd/MediaFiles2", nas.path(), "n:/", "nfs", "", &error));
  ASSERT_TRUE(r.disk().Mount("/mnt/hd/MediaFiles/inner", nas.path(), "n:/", "nfs", "", &error));
  EXPECT_FALSE(r.disk().Unmount("/mnt/hd/MediaFiles", &error));
  EXPECT_EQ(error, "target is busy");
  EXPECT_TRUE(r.disk().Unmount("/mnt/hd/MediaFiles/inner", &error));
  EXPECT_TRUE(r.disk().Unmount("/mnt/hd/MediaFiles", &error)) << "MediaFiles2 is beside it, not inside";
}

}  // namespace
