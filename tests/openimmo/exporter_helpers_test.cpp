// The exporter's small public helpers: the "%%" escaping of a text and the archive of the host
// INI a phase makes and removes.
#include <filesystem>

#include "openimmo_fixture.h"
#include "platform/text.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

TEST(DoRemoveNonAscii, KeepsDigitsAndLettersAndEscapesTheRest) {
  EXPECT_EQ(cImmoXmlV2::DoRemoveNonAscii("Abc09:;<=>?@Zaz"), "Abc09:;<=>?@Zaz");
  EXPECT_EQ(cImmoXmlV2::DoRemoveNonAscii("a b\tc"), "a%%20b%%9c");
  EXPECT_EQ(cImmoXmlV2::DoRemoveNonAscii("Bär/_[`{~"), "B%%E4r%%2F%%5F%%5B%%60%%7B%%7E");
  EXPECT_EQ(cImmoXmlV2::DoRemoveNonAscii("€"), "%%80");           // Windows-1252, not Latin-1
  EXPECT_EQ(cImmoXmlV2::DoRemoveNonAscii("a%%20 b"), "a%%20 b");  // escaped already
  EXPECT_EQ(cImmoXmlV2::DoRemoveNonAscii(""), "");
}

using ZipTempFileTest = OpenImmoTest;

TEST_F(ZipTempFileTest, HoldsTheHostIniAndGoesWhenThePhaseEnds) {
  X().GetZipTempFile();
  const std::string archive = X().ZipTempFile();
  ASSERT_TRUE(fs::is_regular_file(archive)) << archive;
  EXPECT_EQ(fs::path(archive).parent_path(), fs::path(cUtil::GetTempPath()).parent_path());
  EXPECT_EQ(text::LowerAscii(ZipEntries(archive)), "kavantor.ini\n");

  // A whole phase, and one that ends in an error (no portal row of its type): each makes its
  // archive and leaves none.
  const auto zipsInTemp = [] {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(cUtil::GetTempPath()))
      n += e.path().extension() == ".ZIP";
    return n;
  };
  UseWorkFolder();
  Exec("update Boersen set boersen_host = 'DUMMY' where boersen_name = 'ImmoPortal Demo'");
  for (const char* where : {"boersen_name = 'ImmoPortal Demo'", "1 = 0"}) {
    SCOPED_TRACE(where);
    lines.clear();
    x_.reset();
    EXPECT_EQ(zipsInTemp(), 0u);
    RunPhase(where);
    EXPECT_FALSE(X().ZipTempFile().empty());
    EXPECT_FALSE(fs::exists(X().ZipTempFile()));
    EXPECT_EQ(zipsInTemp(), 0u);
  }
  EXPECT_NE(Lines(102).find("Keine Schnittstelle"), std::string::npos) << Lines(102);
}

}  // namespace
}  // namespace fern::testing
