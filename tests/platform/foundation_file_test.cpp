// Files and bundles: NSFileHandle reading whole files (and answering nil
// for files it cannot open), and NSBundle's main bundle for an executable
// inside a .app folder, checked by running a copy of this program there.
#include <Foundation/Foundation.h>
#include <objc/objc-load.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

OBJC_LIBRARY_REGISTRATION()

#ifndef ZEL_TEST_EMULATOR
#define ZEL_TEST_EMULATOR ""
#endif

namespace {

class Files : public ::testing::Test {
protected:
  void SetUp() override {
    pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    char pattern[] = "/tmp/foundation_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    char resolved[4096];
    ASSERT_NE(realpath(pattern, resolved), nullptr);
    dir = resolved;
  }
  void TearDown() override {
    objc_send<void>(pool, "release");
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
  void write(const std::string &path, const std::string &contents) {
    std::ofstream(path, std::ios::binary) << contents;
  }
  id pool = nil;
  std::string dir;
};

id string(const std::string &text) {
  return objc_send_class("NSString", "stringWithCString:", text.c_str());
}

std::string text(id str) {
  return str ? objc_send<const char *>(str, "cString") : "nil";
}

using FileHandle = Files;

TEST_F(FileHandle, ReadsTheWholeFile) {
  std::string contents(20000, 'x');
  contents[0] = '\0'; // binary data survives
  contents += "end";
  write(dir + "/data", contents);
  id handle = objc_send_class(
      "NSFileHandle", "fileHandleForReadingAtPath:", string(dir + "/data"));
  ASSERT_NE(handle, nil);
  id data = objc_send(handle, "availableData");
  ASSERT_EQ(objc_send<unsigned>(data, "length"), contents.size());
  std::string read(
      static_cast<const char *>(objc_send<const void *>(data, "bytes")),
      contents.size());
  EXPECT_EQ(read, contents);
  objc_send<void>(handle, "closeFile");
}

TEST_F(FileHandle, EmptyFileGivesEmptyData) {
  write(dir + "/empty", "");
  id handle = objc_send_class(
      "NSFileHandle", "fileHandleForReadingAtPath:", string(dir + "/empty"));
  ASSERT_NE(handle, nil);
  EXPECT_EQ(objc_send<unsigned>(objc_send(handle, "availableData"), "length"),
            0u);
}

TEST_F(FileHandle, MissingFileOrFolderGivesNil) {
  EXPECT_EQ(objc_send_class("NSFileHandle", "fileHandleForReadingAtPath:",
                            string(dir + "/absent")),
            nil);
  EXPECT_EQ(objc_send_class("NSFileHandle",
                            "fileHandleForReadingAtPath:", string(dir)),
            nil);
  EXPECT_EQ(objc_send_class("NSFileHandle", "fileHandleForReadingAtPath:", nil),
            nil);
}

TEST_F(FileHandle, ReadingAfterCloseRaises) {
  write(dir + "/data", "abc");
  id handle = objc_send_class(
      "NSFileHandle", "fileHandleForReadingAtPath:", string(dir + "/data"));
  objc_send<void>(handle, "closeFile");
  volatile bool raised = false;
  NS_DURING
  objc_send(handle, "availableData");
  NS_HANDLER
  raised = true;
  NS_ENDHANDLER
  EXPECT_TRUE(raised);
}

// ---- bundles ----

using Bundle = Files;

TEST_F(Bundle, ResourcesOfAFolder) {
  mkdir((dir + "/Tool.app").c_str(), 0755);
  mkdir((dir + "/Tool.app/Resources").c_str(), 0755);
  write(dir + "/Tool.app/Resources/main.tcl", "puts hi");
  write(dir + "/Tool.app/Resources/README", "");
  id bundle = objc_send_class("NSBundle",
                              "bundleWithPath:", string(dir + "/Tool.app/"));
  ASSERT_NE(bundle, nil);
  EXPECT_EQ(text(objc_send(bundle, "bundlePath")), dir + "/Tool.app");
  EXPECT_EQ(text(objc_send(bundle, "pathForResource:ofType:", NSSTR("main"),
                           NSSTR("tcl"))),
            dir + "/Tool.app/Resources/main.tcl");
  EXPECT_EQ(
      text(objc_send(bundle, "pathForResource:ofType:", NSSTR("README"), nil)),
      dir + "/Tool.app/Resources/README");
  EXPECT_EQ(
      objc_send(bundle, "pathForResource:ofType:", NSSTR("main"), NSSTR("js")),
      nil);
  EXPECT_EQ(objc_send(bundle, "pathForResource:ofType:", nil, NSSTR("tcl")),
            nil);
  EXPECT_EQ(
      objc_send_class("NSBundle", "bundleWithPath:", string(dir + "/none")),
      nil);
}

// The copy inside the .app folder runs this instead of the tests: it
// reports what it sees and ends.
__attribute__((constructor)) void reportBundleInChild() {
  if (!getenv("FOUNDATION_BUNDLE_CHILD"))
    return;
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  id bundle = objc_send_class("NSBundle", "mainBundle");
  printf("bundle=%s\n", text(objc_send(bundle, "bundlePath")).c_str());
  printf("main=%s\n", text(objc_send(bundle, "pathForResource:ofType:",
                                     NSSTR("main"), NSSTR("tcl")))
                          .c_str());
  printf("same=%d\n", bundle == objc_send_class("NSBundle", "mainBundle"));
  objc_send<void>(pool, "release");
  fflush(stdout);
  _exit(0);
}

std::string selfPath() {
  char path[4096];
  ssize_t size = readlink("/proc/self/exe", path, sizeof path - 1);
  return size > 0 ? std::string(path, static_cast<size_t>(size)) : "";
}

TEST_F(Bundle, MainBundleIsTheAppFolderOfTheExecutable) {
  std::string app = dir + "/Hello.app";
  mkdir(app.c_str(), 0755);
  mkdir((app + "/Resources").c_str(), 0755);
  write(app + "/Resources/main.tcl", "puts hi");
  std::string copy = "cp '" + selfPath() + "' '" + app + "/Hello'";
  ASSERT_EQ(system(copy.c_str()), 0);

  // Started through a relative name from another folder.
  std::string emulator = ZEL_TEST_EMULATOR;
  std::string run = "cd '" + dir + "' && FOUNDATION_BUNDLE_CHILD=1 " +
                    emulator + " ./Hello.app/Hello 2>&1";
  FILE *child = popen(run.c_str(), "r");
  ASSERT_NE(child, nullptr);
  std::string output;
  char line[4096];
  while (fgets(line, sizeof line, child))
    output += line;
  EXPECT_EQ(pclose(child), 0) << output;
  EXPECT_NE(output.find("bundle=" + app + "\n"), std::string::npos) << output;
  EXPECT_NE(output.find("main=" + app + "/Resources/main.tcl\n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("same=1\n"), std::string::npos) << output;
}

} // namespace
