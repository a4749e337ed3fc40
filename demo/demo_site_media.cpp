// The web site's viewing appointments, the listings' documents and picture titles that test the
// site's escaping.
#include <cmath>
#include <fstream>

#include "demo/demo_data.h"
#include "platform/text_file.h"

namespace fern::host::demo_data {

namespace {

// The default of the web site's setting VISITATION names this kind.
constexpr int kViewingKind = 10;

struct Viewing {
  int listing;
  int day;  // from the day the demo host is made
  int hour, minute;
  int endHour, endMinute;  // endHour < 0: no end
  int kind = kViewingKind;
  bool dated = true;
};

void Appointments(Batch& b) {
  b.Insert("AKTIVITÄTENARTEN",
           {{"DSN", S(Key(kArt, kViewingKind))}, {"Name", S("Termin Besichtigung (Webserver)")}});
  // Coming viewings, so that every run of the demo has some; listing 27 is a unit of listing 2
  // and shows its parent's viewings beside its own. The past one, the undated one and the phone
  // call never reach the site; today's early one does.
  const Viewing viewings[] = {
      {1, 2, 14, 30, -1, 0},           {1, 9, 10, 0, 11, 30},   {2, 5, 16, 0, 17, 0},
      {27, 3, 9, 15, -1, 0},           {4, 0, 0, 5, -1, 0},     {1, -3, 10, 0, 11, 0},
      {5, 1, 12, 0, -1, 0, 10, false}, {6, 1, 12, 0, -1, 0, 3},
  };
  const double today = std::floor(vb::Now());
  int akt = 100;
  for (const Viewing& v : viewings) {
    ++akt;
    const double start = today + v.day + vb::TimeSerial(v.hour, v.minute, 0);
    b.Insert(
        "AKT",
        {{"DSN", S(Key(kAkt, akt))},
         {"DATUM", v.dated ? Variant::Date(start) : kNull},
         {"DATUM_BIS",
          v.endHour < 0 ? kNull
                        : Variant::Date(today + v.day + vb::TimeSerial(v.endHour, v.endMinute, 0))},
         {"OBJ_DSN", S(Key(kObj, v.listing))},
         {"ART_DSN", S(Key(kArt, v.kind))},
         {"BETREFF", S("Besichtigung FB-" + std::to_string(1000 + v.listing))},
         {"KENNUNG", S("T-" + std::to_string(akt))},
         {"OBJTRACKINGSTATUS", L(0)}});
  }
}

// Documents lie beside the pictures as "<base>-doc<n>[#description].<ext>".
void Documents(const std::filesystem::path& folder) {
  const std::filesystem::path fb = folder / "pic.obj" / "fb";
  std::filesystem::create_directories(fb);
  const char* documents[][2] = {
      {"fb1-doc1#Grundriss Erdgeschoß.pdf", "%PDF-1.4 Grundriss"},
      {"fb1-Doc2.PDF", "%PDF-1.4 Lageplan"},
      {"fb2-doc1#Energieausweis.pdf", "%PDF-1.4 Energieausweis"},
      {"fb3-doc1#Anfahrt.php", "Anfahrt: A7, Ausfahrt Nord"},
      {"fb4-doc1#Müller's Plan $x {${phpinfo()}} € <b>fett</b>.pdf", "%PDF-1.4 Plan"},
  };
  for (const auto& [name, content] : documents)
    std::ofstream(fb / name, std::ios::binary) << content;
}

// Titles with everything a text can carry into the site's table.
void PictureTitles(const std::filesystem::path& folder) {
  WriteTextFile(folder / "pic.obj" / "fb" / "fb11.txt",
                "Titelbild FB-1011\n"
                "Grundriss 'Süd' \"Garten\" \\ $x {${phpinfo()}} € <b>Terrasse</b>\n"
                "Ansicht\tmit Tab\n"
                "Online=Online-Titelbild FB-1011\n");
}

}  // namespace

void SiteMediaData(Batch& b, const std::filesystem::path& folder) {
  Appointments(b);
  Documents(folder);
  PictureTitles(folder);
}

}  // namespace fern::host::demo_data
