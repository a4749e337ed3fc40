// A customer's save hook written without Dim, as most are, run by a whole OpenImmo phase: what
// it adds reaches the portal.
#include <filesystem>
#include <fstream>

#include "openimmo_fixture.h"
#include "support/ftp_server.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

class HookWithoutDim : public OpenImmoTest {};

TEST_F(HookWithoutDim, ItsNoteReachesThePortal) {
  UseWorkFolder();
  const fs::path hooks = host() / "System" / "Services" / "OpenImmo";
  fs::create_directories(hooks);
  // Names without Dim in a Function, a method and the hook itself: indexed, read from a
  // Dictionary, called through GetRef.
  std::ofstream(hooks / "note.vbs", std::ios::trunc)
      << "Function FirstField(s) : parts = Split(s, \"-\") : FirstField = parts(0) : End "
         "Function\r\n"
         "Function Shout(s) : Shout = UCase(s) : End Function\r\n"
         "Class Note\r\n"
         "  Function Counted(doc)\r\n"
         "    Set seen = CreateObject(\"Scripting.Dictionary\")\r\n"
         "    seen(\"listings\") = doc.selectNodes(\"//*[local-name()='immobilie']\").length\r\n"
         "    Counted = seen(\"listings\")\r\n"
         "  End Function\r\n"
         "  Public Function Callback_BeforeXmlSave(rs, oXmlDoc, strPath, strFileName)\r\n"
         "    Set loud = GetRef(\"Shout\")\r\n"
         "    said = loud(FirstField(strFileName)) & \" \" & Counted(oXmlDoc)\r\n"
         "    oXmlDoc.documentElement.appendChild oXmlDoc.createComment(\"note \" & said)\r\n"
         "  End Function\r\n"
         "End Class\r\n"
         "Application.EventsConsumers.Add New Note\r\n";
  auto server = PortalFtpServer("ImmoPortal Demo", "immo", "immo-demo", ", zipping = 0");
  RunPhase("boersen_name = 'ImmoPortal Demo'");
  EXPECT_EQ(Errors(), 0) << Lines(102);
  const std::vector<fs::path> sent = Arrived(".xml");
  ASSERT_EQ(sent.size(), 1u);
  const std::string text = dir.Read(sent[0]);
  EXPECT_NE(text.find("<!--note IMMOPORTAL DEMO 29-->"), std::string::npos)
      << text.substr(text.size() - std::min<size_t>(text.size(), 400));
}

}  // namespace
}  // namespace fern::testing
