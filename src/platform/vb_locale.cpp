// The regional settings scripts may switch to with SetLocale: the locales an office meets, as
// Windows defines them. German is what the offices run and the host always uses.
#include <algorithm>

#include "platform/text.h"
#include "platform/vb.h"

namespace fern::vb {

namespace {

using Months = std::array<std::string_view, 12>;
using Days = std::array<std::string_view, 7>;

constexpr Months kGermanMonths = {"Januar",    "Februar", "März",     "April",
                                  "Mai",       "Juni",    "Juli",     "August",
                                  "September", "Oktober", "November", "Dezember"};
constexpr Months kGermanAbbrev = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun",
                                  "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
// Format's "mmm" keeps VB's older German abbreviation of March, which exports already carry.
constexpr Months kGermanFormatAbbrev = {"Jan", "Feb", "Mrz", "Apr", "Mai", "Jun",
                                        "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
constexpr Months kAustrianMonths = {"Jänner",    "Februar", "März",     "April",
                                    "Mai",       "Juni",    "Juli",     "August",
                                    "September", "Oktober", "November", "Dezember"};
constexpr Months kAustrianAbbrev = {"Jän", "Feb", "Mär", "Apr", "Mai", "Jun",
                                    "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
constexpr Days kGermanDays = {"Sonntag",    "Montag",  "Dienstag", "Mittwoch",
                              "Donnerstag", "Freitag", "Samstag"};
constexpr Days kGermanDayAbbrev = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};

constexpr Months kEnglishMonths = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};
constexpr Months kEnglishAbbrev = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr Days kEnglishDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                               "Thursday", "Friday", "Saturday"};
constexpr Days kEnglishDayAbbrev = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

constexpr Months kFrenchMonths = {"janvier",   "février", "mars",     "avril",
                                  "mai",       "juin",    "juillet",  "août",
                                  "septembre", "octobre", "novembre", "décembre"};
constexpr Months kFrenchAbbrev = {"janv.", "févr.", "mars",  "avr.", "mai",  "juin",
                                  "juil.", "août",  "sept.", "oct.", "nov.", "déc."};
constexpr Days kFrenchDays = {"dimanche", "lundi",    "mardi", "mercredi",
                              "jeudi",    "vendredi", "samedi"};
constexpr Days kFrenchDayAbbrev = {"dim.", "lun.", "mar.", "mer.", "jeu.", "ven.", "sam."};

constexpr Months kItalianMonths = {"gennaio",   "febbraio", "marzo",    "aprile",
                                   "maggio",    "giugno",   "luglio",   "agosto",
                                   "settembre", "ottobre",  "novembre", "dicembre"};
constexpr Months kItalianAbbrev = {"gen", "feb", "mar", "apr", "mag", "giu",
                                   "lug", "ago", "set", "ott", "nov", "dic"};
constexpr Days kItalianDays = {"domenica", "lunedì",  "martedì", "mercoledì",
                               "giovedì",  "venerdì", "sabato"};
constexpr Days kItalianDayAbbrev = {"dom", "lun", "mar", "mer", "gio", "ven", "sab"};

constexpr Months kSpanishMonths = {"enero",      "febrero", "marzo",     "abril",
                                   "mayo",       "junio",   "julio",     "agosto",
                                   "septiembre", "octubre", "noviembre", "diciembre"};
constexpr Months kSpanishAbbrev = {"ene.", "feb.", "mar.",  "abr.", "may.", "jun.",
                                   "jul.", "ago.", "sept.", "oct.", "nov.", "dic."};
constexpr Days kSpanishDays = {"domingo", "lunes",   "martes", "miércoles",
                               "jueves",  "viernes", "sábado"};
constexpr Days kSpanishDayAbbrev = {"dom.", "lun.", "mar.", "mié.", "jue.", "vie.", "sáb."};

constexpr Months kDutchMonths = {"januari",   "februari", "maart",    "april",
                                 "mei",       "juni",     "juli",     "augustus",
                                 "september", "oktober",  "november", "december"};
constexpr Months kDutchAbbrev = {"jan", "feb", "mrt", "apr", "mei", "jun",
                                 "jul", "aug", "sep", "okt", "nov", "dec"};
constexpr Days kDutchDays = {"zondag",    "maandag", "dinsdag", "woensdag",
                             "donderdag", "vrijdag", "zaterdag"};
constexpr Days kDutchDayAbbrev = {"zo", "ma", "di", "wo", "do", "vr", "za"};

constexpr std::string_view kNoBreakSpace = "\xC2\xA0";
constexpr std::string_view kEuro = "€";

constexpr Locale kLocales[] = {
    {1031, ",", ".", false, '.', true, false, true, kGermanMonths, kGermanAbbrev,
     kGermanFormatAbbrev, kGermanDays, kGermanDayAbbrev, "dddd, d. mmmm yyyy", kEuro, false, true,
     2, 2},
    {3079, ",", ".", false, '.', true, false, true, kAustrianMonths, kAustrianAbbrev,
     kAustrianAbbrev, kGermanDays, kGermanDayAbbrev, "dddd, d. mmmm yyyy", kEuro, true, true, 2, 2},
    {2055, ".", "'", false, '.', true, false, true, kGermanMonths, kGermanAbbrev, kGermanAbbrev,
     kGermanDays, kGermanDayAbbrev, "dddd, d. mmmm yyyy", "CHF", true, true, 2, 2},
    {1033, ".", ",", true, '/', false, true, false, kEnglishMonths, kEnglishAbbrev, kEnglishAbbrev,
     kEnglishDays, kEnglishDayAbbrev, "dddd, mmmm d, yyyy", "$", true, false, 1, 1},
    {2057, ".", ",", false, '/', true, false, true, kEnglishMonths, kEnglishAbbrev, kEnglishAbbrev,
     kEnglishDays, kEnglishDayAbbrev, "dd mmmm yyyy", "£", true, false, 2, 2},
    {1036, ",", kNoBreakSpace, false, '/', true, false, true, kFrenchMonths, kFrenchAbbrev,
     kFrenchAbbrev, kFrenchDays, kFrenchDayAbbrev, "dddd d mmmm yyyy", kEuro, false, true, 2, 2},
    {1040, ",", ".", false, '/', true, false, true, kItalianMonths, kItalianAbbrev, kItalianAbbrev,
     kItalianDays, kItalianDayAbbrev, "dddd d mmmm yyyy", kEuro, false, true, 2, 2},
    {3082, ",", ".", false, '/', true, false, false, kSpanishMonths, kSpanishAbbrev, kSpanishAbbrev,
     kSpanishDays, kSpanishDayAbbrev, "dddd, d \"de\" mmmm \"de\" yyyy", kEuro, false, true, 2, 2},
    // Traditional sort: the same regional settings.
    {1034, ",", ".", false, '/', true, false, false, kSpanishMonths, kSpanishAbbrev, kSpanishAbbrev,
     kSpanishDays, kSpanishDayAbbrev, "dddd, d \"de\" mmmm \"de\" yyyy", kEuro, false, true, 2, 2},
    {1043, ",", ".", false, '-', false, false, true, kDutchMonths, kDutchAbbrev, kDutchAbbrev,
     kDutchDays, kDutchDayAbbrev, "dddd d mmmm yyyy", kEuro, true, true, 2, 2},
};

}  // namespace

const Locale& German() { return kLocales[0]; }

const Locale* FindLocale(int32_t id) {
  for (const Locale& l : kLocales)
    if (l.id == id) return &l;
  return nullptr;
}

const Locale* FindLocale(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    int32_t id;
  } kNames[] = {{"de", 1031},    {"de-de", 1031}, {"de-at", 3079}, {"de-ch", 2055},
                {"en", 1033},    {"en-us", 1033}, {"en-gb", 2057}, {"fr", 1036},
                {"fr-fr", 1036}, {"it", 1040},    {"it-it", 1040}, {"es", 3082},
                {"es-es", 3082}, {"nl", 1043},    {"nl-nl", 1043}};
  std::string key = text::LowerAscii(name);
  std::replace(key.begin(), key.end(), '_', '-');
  for (const auto& n : kNames)
    if (n.name == key) return FindLocale(n.id);
  return nullptr;
}

}  // namespace fern::vb
