// The embedded bundle: this test executable carries a small archive through
// qb_embed_bundle, exactly as a launcher carries its bundle.
#include "launcher/bundle_module.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/embedded_bundle.h"
#include "launcher/resource_list.h"
#include "tests/test_support.h"

namespace {

using qbtest::ReadFile;

class EmbeddedBundle : public testing::Test {
 protected:
  void SetUp() override {
    CreateResourceRegistry();
    RegisterEmbeddedBundle();
  }
  void TearDown() override { DestroyResourceRegistry(); }
};

}  // namespace

TEST_F(EmbeddedBundle, IsTheArchiveFileByteForByte) {
  const std::string Archive = ReadFile(QB_TEST_BUNDLE);
  ASSERT_GT(Archive.size(), 4u);
  TEmbeddedBundle Bundle;
  ASSERT_TRUE(FindEmbeddedBundle(Bundle));
  ASSERT_EQ(Bundle.Length, Archive.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Bundle.Data), Bundle.Length), Archive);
  EXPECT_EQ(Archive.substr(0, 4), std::string("PK\x03\x04", 4));
}

TEST_F(EmbeddedBundle, IsRegisteredAsTheZipPrincipalWithoutACopy) {
  TEmbeddedBundle Bundle;
  ASSERT_TRUE(FindEmbeddedBundle(Bundle));
  ASSERT_EQ(Resources().Count(), 1);
  const TLResource* Entry = Resources().Find("quintabelprincipal");
  ASSERT_NE(Entry, nullptr);
  EXPECT_EQ(Entry->TypeName, "ZIP");
  EXPECT_EQ(static_cast<const void*>(Entry->Value), static_cast<const void*>(Bundle.Data));
  EXPECT_EQ(Entry->Length, Bundle.Length);
}

TEST_F(EmbeddedBundle, WrittenToAFileIsTheEmbeddedArchive) {
  qbtest::TScratchFolder Scratch;
  WriteResourceToFile("quintabelprincipal", Scratch.Path("quintabelprincipal.zip"));
  const std::string Written = ReadFile(Scratch.Path("quintabelprincipal.zip"));
  EXPECT_EQ(Written, ReadFile(QB_TEST_BUNDLE));
  EXPECT_EQ(Written.substr(0, 4), std::string("PK\x03\x04", 4));
}
