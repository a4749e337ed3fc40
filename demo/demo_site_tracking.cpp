#include "demo/demo_data.h"

namespace fern::host::demo_data {

namespace {

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char c : bytes) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", c);
    hex += buf;
  }
  return hex;
}

}  // namespace

// The owners follow their listings on the site: listing 3 gets an owner with a login, the
// tracked listings get activities with awkward notes and a published attachment, and an
// untracked listing has an activity the site must never see.
void SiteTrackingData(Batch& b, const std::filesystem::path& folder) {
  (void)folder;
  b.Insert("AD", {{"DSN", S(Key(kAd, 20))},
                  {"Name", S("Rita \"Röhrig\" O'Brien")},
                  {"idx_name", S("Röhrig")},
                  {"EMAIL", S(" rita@eigentuemer.example ")},
                  {"KENNUNG", S("R 2026 \\ $x")},
                  {"FIRMA", S("Röhrig & Söhne <GmbH> {${phpinfo()}}")},
                  {"STRASSE", S("Am Bach 1")},
                  {"LAND_PLZ", S("D-50667")},
                  {"ORT", S("Köln")}});
  b.Raw("UPDATE obj SET AD_ANBIETER_DSN = '" + Key(kAd, 20) + "' WHERE DSN = '" + Key(kObj, 3) +
        "'");

  const std::string hostile =
      "<p>Angebot: 1.250 € \"fest\" für O'Brien</p>\r\n<script>alert('x')</script>"
      "<b>C:\\Daten\\</b> $x {${phpinfo()}} <img src=x onerror=alert(1)> Größe &lt;100&gt;";
  struct Activity {
    int n, listing, kind, status;
    const char* subject;
    std::string note;
  };
  const Activity activities[] = {
      {20, 1, 2, 3, "Preis <b>\"Verhandlung\"</b> & Co's $x", hostile},
      {21, 1, 3, 4, "Exposé mit Anlagen", "Unterlagen anbei.\r\nGruß"},
      {22, 3, 1, 5, "Besichtigung vor Ort", ""},
      {23, 4, 1, 3, "Nicht verfolgt", "Dieses Objekt wird nicht verfolgt."},
  };
  for (const Activity& a : activities)
    b.Insert("AKT", {{"DSN", S(Key(kAkt, a.n))},
                     {"DATUM", Date(2026, 11, a.n - 10, 9, a.n)},
                     {"OBJ_DSN", S(Key(kObj, a.listing))},
                     {"ART_DSN", S(Key(kArt, a.kind))},
                     {"BETREFF", S(a.subject)},
                     {"NOTIZ", S(a.note)},
                     {"KENNUNG", S("A-" + std::to_string(a.n))},
                     {"OBJTRACKINGSTATUS", L(a.status)}});

  struct Attachment {
    int n, akt, hasAttach;
    const char* name;
    const char* text;
  };
  const Attachment attachments[] = {
      {20, 21, 1, "Grundriss EG (final).txt", "Grundriss Erdgeschoss\r\n"},
      {21, 21, 1, "Energieausweis.txt", "Energieausweis Klasse B\r\n"},
      {22, 21, 0, "intern.txt", "nur für das Büro\r\n"},
      {23, 22, 1, "Protokoll.txt", "Besichtigung am Objekt\r\n"},
  };
  for (const Attachment& f : attachments) {
    b.Insert("AKTFILES", {{"DSN", S(Key(kAktFile, f.n))},
                          {"AKT_DSN", S(Key(kAkt, f.akt))},
                          {"FILENAME", S(f.name)},
                          {"HASATTACH", L(f.hasAttach)},
                          {"BLOB_DSN", S(Key(kBlob, f.n))}});
    b.Insert("KVBLOB", {{"DSN", S(Key(kBlob, f.n))}, {"KIND", S("FILE")}, {"FILENAME", S(f.name)}});
    b.Raw("UPDATE KVBLOB SET DATA = X'" + Hex(f.text) + "' WHERE DSN = '" + Key(kBlob, f.n) + "'");
  }
}

}  // namespace fern::host::demo_data
