// Building a collective listing document: clone the listing template, fill its elements through
// paths relative to the listing, insert it before the imprint, save. Time per listing must not
// grow with the document.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "xml/xml_dom.h"

namespace {

constexpr int kFields = 100;

fern::XmlDocumentPtr Template() {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><imo:openimmo "
      "xmlns:imo=\"http://www.openimmo.de\">"
      "<imo:anbieter><imo:immobilie>";
  for (int f = 0; f < kFields; ++f) {
    if (f % 10 == 0) text += "<imo:g" + std::to_string(f / 10) + ">";
    text += "<imo:f" + std::to_string(f) + " a=\"\"/>";
    if (f % 10 == 9) text += "</imo:g" + std::to_string(f / 10) + ">";
  }
  text += "</imo:immobilie><imo:impressum/></imo:anbieter></imo:openimmo>";
  auto doc = fern::XmlDocument::Create();
  doc->loadXML(text);
  doc->setProperty("SelectionNamespaces", fern::Variant("xmlns:imo='http://www.openimmo.de'"));
  return doc;
}

void BuildCollective(benchmark::State& state) {
  const int listings = static_cast<int>(state.range(0));
  auto tmpl = Template();
  std::vector<std::string> paths;
  for (int f = 0; f < kFields; ++f) paths.push_back(".//imo:f" + std::to_string(f));
  std::string file = (std::filesystem::temp_directory_path() / "fern_bench_xml.xml").string();
  for (auto _ : state) {
    auto doc = std::static_pointer_cast<fern::XmlDocument>(tmpl->cloneNode(true));
    auto anbieter = doc->selectSingleNode(".//imo:anbieter");
    anbieter->removeChild(anbieter->selectSingleNode("imo:immobilie"));
    auto impressum = anbieter->selectSingleNode("imo:impressum");
    auto model = tmpl->selectSingleNode(".//imo:immobilie");
    for (int i = 0; i < listings; ++i) {
      auto listing = model->cloneNode(true);
      for (int f = 0; f < kFields; ++f) {
        auto e = listing->selectSingleNode(paths[f]);
        e->setText("Wert " + std::to_string(i) + "/" + std::to_string(f));
        e->setAttribute("a", "x");
      }
      anbieter->insertBefore(listing, impressum);
    }
    doc->save(file);
  }
  std::filesystem::remove(file);
  state.counters["listings/s"] =
      benchmark::Counter(static_cast<double>(listings) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BuildCollective)->Arg(1000)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace
