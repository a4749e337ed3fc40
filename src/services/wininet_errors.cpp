// The German explanations of the WinINet error numbers the FTP layer reports.
#include "services/cWinINetV2.h"

#include <map>

#include "host/LanguagePack.h"
#include "services/upload_walk.h"

namespace fern {

namespace {

struct ErrorRow {
  const char* text;
  bool translated;  // rows that only name the constant pass untranslated
};

const std::map<int32_t, ErrorRow>& ErrorTable() {
  static const std::map<int32_t, ErrorRow> table = {
      {12001,
       {"Es stehen keine weiteren Internet-Handles zur Verfügung (ERROR_INTERNET_OUT_OF_HANDLES).",
        true}},
      {12002,
       {"Zeitlimit der Anfrage erreicht (ERROR_INTERNET_TIMEOUT). Evtl. handelt es sich um ein "
        "Netzwerkproblem oder eine vorübergehende Störung im Internet/Ihres Internetzugangs.",
        true}},
      {12003,
       {"Der Server hat einen Fehler gemeldet, siehe seine Antwort "
        "(ERROR_INTERNET_EXTENDED_ERROR).",
        true}},
      {12004, {"Es ist ein interner Fehler aufgetreten (ERROR_INTERNET_INTERNAL_ERROR).", true}},
      {12005, {"Die Adresse ist ungültig (ERROR_INTERNET_INVALID_URL).", true}},
      {12006,
       {"Das Protokoll der Adresse wird nicht unterstützt (ERROR_INTERNET_UNRECOGNIZED_SCHEME).",
        true}},
      {12007,
       {"Der Servername konnte nicht aufgelöst werden (ERROR_INTERNET_NAME_NOT_RESOLVED). Bitte "
        "überprüfen Sie Ihre Zugangsdaten.",
        true}},
      {12008,
       {"Das gewünschte Protokoll wurde nicht gefunden (ERROR_INTERNET_PROTOCOL_NOT_FOUND).",
        true}},
      {12009, {"Eine ungültige Option wurde angegeben (ERROR_INTERNET_INVALID_OPTION).", true}},
      {12010, {"Die Länge einer Option ist falsch (ERROR_INTERNET_BAD_OPTION_LENGTH).", true}},
      {12011, {"Die Option kann nicht gesetzt werden (ERROR_INTERNET_OPTION_NOT_SETTABLE).", true}},
      {12012, {"Die Internetunterstützung wird gerade beendet (ERROR_INTERNET_SHUTDOWN).", true}},
      {12013,
       {"Die Anfrage zum Herstellen einer Verbindung und Anmelden bei einem FTP-Server konnte "
        "nicht abgeschlossen werden, da der angegebene Benutzername falsch ist. Bitte überprüfen "
        "Sie Ihre Zugangsdaten (ERROR_INTERNET_INCORRECT_USER_NAME).",
        true}},
      {12014,
       {"Die Anfrage zum Herstellen einer Verbindung und Anmelden bei einem FTP-Server konnte "
        "nicht abgeschlossen werden, da das angegebene Kennwort falsch ist. Bitte überprüfen Sie "
        "Ihre Zugangsdaten (ERROR_INTERNET_INCORRECT_PASSWORD).",
        true}},
      {12015,
       {"Die Anforderung zum Herstellen einer Verbindung und Anmelden bei einem FTP-Server ist "
        "fehlgeschlagen. Bitte überprüfen Sie Ihre Zugangsdaten (ERROR_INTERNET_LOGIN_FAILURE).",
        true}},
      {12016, {"Der angeforderte Vorgang ist ungültig (ERROR_INTERNET_INVALID_OPERATION).", true}},
      {12017, {"Der Vorgang wurde abgebrochen (ERROR_INTERNET_OPERATION_CANCELLED).", true}},
      {12018,
       {"Der Typ des Handles passt nicht zu diesem Vorgang (ERROR_INTERNET_INCORRECT_HANDLE_TYPE).",
        true}},
      {12019,
       {"Der Zustand des Handles erlaubt diesen Vorgang nicht "
        "(ERROR_INTERNET_INCORRECT_HANDLE_STATE).",
        true}},
      {12020,
       {"Die Anfrage kann nicht über einen Proxy gestellt werden "
        "(ERROR_INTERNET_NOT_PROXY_REQUEST).",
        true}},
      {12021,
       {"Ein benötigter Registrierungswert wurde nicht gefunden "
        "(ERROR_INTERNET_REGISTRY_VALUE_NOT_FOUND).",
        true}},
      {12022,
       {"Ein benötigter Registrierungswert ist ungültig (ERROR_INTERNET_BAD_REGISTRY_PARAMETER).",
        true}},
      {12023,
       {"Ein direkter Internetzugang ist nicht möglich (ERROR_INTERNET_NO_DIRECT_ACCESS).", true}},
      {12024, {"Es wurde kein Kontext angegeben (ERROR_INTERNET_NO_CONTEXT).", true}},
      {12025, {"Es wurde keine Rückruffunktion angegeben (ERROR_INTERNET_NO_CALLBACK).", true}},
      {12026, {"Es ist noch eine Anfrage in Bearbeitung (ERROR_INTERNET_REQUEST_PENDING).", true}},
      {12027, {"Das Format der Anfrage ist ungültig (ERROR_INTERNET_INCORRECT_FORMAT).", true}},
      {12028,
       {"Das angeforderte Element wurde nicht gefunden (ERROR_INTERNET_ITEM_NOT_FOUND).", true}},
      {12029,
       {"Der Versuch, eine Verbindung zum Server herzustellen, schlug fehl "
        "(ERROR_INTERNET_CANNOT_CONNECT). Bitte überprüfen Sie Ihre Zugangsdaten , bzw. Ihren "
        "Internetzugang!",
        true}},
      {12030,
       {"Die Verbindung zum Server wurde abgebrochen (ERROR_INTERNET_CONNECTION_ABORTED).", true}},
      {12031,
       {"Die Verbindung zum Server wurde zurückgesetzt (ERROR_INTERNET_CONNECTION_RESET).", true}},
      {12032, {"Die Anfrage muss wiederholt werden (ERROR_INTERNET_FORCE_RETRY).", true}},
      {12033, {"Die Proxy-Anfrage ist ungültig (ERROR_INTERNET_INVALID_PROXY_REQUEST).", true}},
      {12036, {"Das Handle existiert bereits (ERROR_INTERNET_HANDLE_EXISTS).", true}},
      {12037, {"(ERROR_INTERNET_SEC_CERT_DATE_INVALID)", false}},
      {12038, {"(ERROR_INTERNET_SEC_CERT_CN_INVALID)", false}},
      {12039, {"(ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR)", false}},
      {12040, {"(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR)", false}},
      {12041,
       {"Die Seite enthält sichere und unsichere Inhalte (ERROR_INTERNET_MIXED_SECURITY).", true}},
      {12042, {"(ERROR_INTERNET_CHG_POST_IS_NON_SECURE)", false}},
      {12043, {"(ERROR_INTERNET_POST_IS_NON_SECURE)", false}},
      {12110, {"Es läuft bereits eine FTP-Übertragung (ERROR_FTP_TRANSFER_IN_PROGRESS).", true}},
      {12111,
       {"Der FTP-Vorgang konnte nicht abgeschlossen werden, da die Sitzung beendet wurde "
        "(ERROR_FTP_DROPPED).",
        true}},
      {12130, {"Fehler im Gopher-Protokoll (ERROR_GOPHER_PROTOCOL_ERROR).", true}},
      {12131, {"Das Gopher-Element ist keine Datei (ERROR_GOPHER_NOT_FILE).", true}},
      {12132, {"Fehler in den Gopher-Daten (ERROR_GOPHER_DATA_ERROR).", true}},
      {12133, {"Das Ende der Gopher-Daten wurde erreicht (ERROR_GOPHER_END_OF_DATA).", true}},
      {12134, {"Der Gopher-Verweis ist ungültig (ERROR_GOPHER_INVALID_LOCATOR).", true}},
      {12135,
       {"Der Typ des Gopher-Verweises ist falsch (ERROR_GOPHER_INCORRECT_LOCATOR_TYPE).", true}},
      {12136, {"Der Server ist kein Gopher+-Server (ERROR_GOPHER_NOT_GOPHER_PLUS).", true}},
      {12137,
       {"Das Gopher-Attribut wurde nicht gefunden (ERROR_GOPHER_ATTRIBUTE_NOT_FOUND).", true}},
      {12138, {"Der Gopher-Verweis ist unbekannt (ERROR_GOPHER_UNKNOWN_LOCATOR).", true}},
      {12150,
       {"Die angeforderte Kopfzeile wurde nicht gefunden (ERROR_HTTP_HEADER_NOT_FOUND).", true}},
      {12151,
       {"Der Server unterstützt die angeforderte Protokollversion nicht "
        "(ERROR_HTTP_DOWNLEVEL_SERVER).",
        true}},
      {12152, {"Die Antwort des Servers ist ungültig (ERROR_HTTP_INVALID_SERVER_RESPONSE).", true}},
      {12153, {"Eine Kopfzeile ist ungültig (ERROR_HTTP_INVALID_HEADER).", true}},
      {12154, {"Die Anfrage an den Server ist ungültig (ERROR_HTTP_INVALID_QUERY_REQUEST).", true}},
      {12155, {"Die Kopfzeile ist bereits vorhanden (ERROR_HTTP_HEADER_ALREADY_EXISTS).", true}},
      {12156, {"(ERROR_HTTP_REDIRECT_FAILED)", false}},
  };
  return table;
}

}  // namespace

std::string cWinINetV2::GetWinINetErrorText(int32_t code) const {
  const auto& table = ErrorTable();
  const auto it = table.find(code);
  if (it == table.end()) return {};
  return it->second.translated ? Translate(language_, it->second.text) : it->second.text;
}

}  // namespace fern
