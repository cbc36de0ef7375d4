#include "host/plugin_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "host/host_core.h"

namespace GoxHost {
namespace {

// The built module opens, answers the handshake and closes, twice in one process.
TEST(PluginLoaderTest, OpensAndClosesTheModuleTwice) {
  for (int round = 0; round < 2; ++round) {
    HostCore host;
    const LoadStatus status = host.Load(GOX_MODULE_PATH);
    ASSERT_NE(status, LoadStatus::kNoLibrary) << host.LoadError();
    if (status == LoadStatus::kRefused) {
      EXPECT_TRUE(host.LastHandshake().RecordUnchanged());
    }
    host.Shutdown();
  }
}

TEST(PluginLoaderTest, NamesWhatCouldNotBeOpened) {
  struct Case {
    const char* path;
    const char* error;
  };
  const Case cases[] = {
      {"/nonexistent/libgox_nothing.so", "libgox_nothing.so"},
      {"libm.so.6", "no entry named load_m or load_gox_loadouts"},
  };
  for (const Case& c : cases) {
    PluginLibrary library;
    EXPECT_FALSE(library.Open(c.path));
    EXPECT_NE(library.Error().find(c.error), std::string::npos) << library.Error();
    EXPECT_EQ(library.Entry(), nullptr);
  }
}

// The entry a file name announces; a wrong one would leave every module but the loadouts one unloaded.
TEST(PluginLoaderTest, TheFileNameNamesTheEntry) {
  struct Case {
    const char* path;
    const char* entry;
  };
  const Case cases[] = {
      {"/opt/gox/bin/libgox_inventory.so", "load_gox_inventory"},
      {"libgox_loadouts.so", "load_gox_loadouts"},
      {"build/libgox-template.so.1.0", "load_gox_template"},
      {"./my.plugin.so", "load_my_plugin"},
      {"/a/lib/noprefix", "load_noprefix"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EntryNameFor(c.path), c.entry) << c.path;
}

TEST(PluginLoaderTest, AKeptLibraryStaysMappedAfterClose) {
  struct Case {
    const char* path;
    bool keepMapped;
  };
  // Two libraries, so that neither case sees the other's mapping.
  for (const Case& c : {Case{GOX_HOST_TEST_MODULE_PATH, true}, Case{GOX_MODULE_PATH, false}}) {
    PluginLibrary library;
    ASSERT_TRUE(library.Open(c.path, c.keepMapped)) << library.Error();
    library.Close();
    void* handle = dlopen(c.path, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(handle != nullptr, c.keepMapped) << c.path;
    if (handle != nullptr) dlclose(handle);
  }
}

}  // namespace
}  // namespace GoxHost
