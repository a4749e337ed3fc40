#include "ui/frmFernDispatcher.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/host_session.h"
#include "core/startup.h"
#include "host/cSkin.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/msgbox.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "restportal/login_actions.h"
#include "ui/lnkLabel.h"
#include "ui/message_list_model.h"
#include "ui/qt_message_answerer.h"

#ifndef FERN_VERSION_MAJOR
#define FERN_VERSION_MAJOR 0
#define FERN_VERSION_MINOR 0
#define FERN_VERSION_REVISION 0
#endif

namespace fern {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// 150 twips, the window's margin, in pixels.
constexpr int kMargin = 10;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 26;

// The window state first in "MAINPOS".
constexpr int32_t kSavedNormal = 0;
constexpr int32_t kSavedMinimized = 1;
constexpr int32_t kSavedMaximized = 2;

// The design size of the window; a saved position replaces it.
constexpr int kDesignWidth = 580;
constexpr int kDesignHeight = 520;

// Leaves the busy bracket however the start-up ends.
class BusyScope {
 public:
  BusyScope() { SetBusy(true); }
  ~BusyScope() { SetBusy(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

QTableWidgetItem* LockedItem(const std::string& text) {
  auto* item = new QTableWidgetItem(Q(text));
  item->setFlags(Qt::ItemIsEnabled);
  return item;
}

constexpr int kSignalWatchMs = 200;

// Message lines as wide as the list, never wider: a long line ends in "…" instead of widening
// the list sideways, and tells its whole text as its tip.
class MessageLineDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {0, QStyledItemDelegate::sizeHint(option, index).height()};
  }

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip)
      return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QStyle* style = view->style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view);
    const bool cut = item.fontMetrics.horizontalAdvance(item.text) > textRect.width();
    if (cut)
      QToolTip::showText(event->globalPos(), item.text, view->viewport(), option.rect);
    else
      QToolTip::hideText();
    return true;
  }
};

}  // namespace

frmFernDispatcher::frmFernDispatcher(ExporterFactory factory, bool installAnswerer)
    : installAnswerer_(installAnswerer && GetCommandSwitch("/PORTAL").empty()) {
  setWindowTitle(QStringLiteral("FernDispatcher"));
  resize(kDesignWidth, kDesignHeight);
  BuildControls();

  RunView view;
  view.messageAdded = [this](const std::string& text) { AddMessage(text); };
  view.messagesCleared = [this] { messages_->Clear(); };
  view.progressText = [this](const std::string& text) { lblProgress->setText(Q(text)); };
  view.runningChanged = [this](bool running) { SetRunning(running); };
  driver_ = std::make_unique<RunDriver>(grid_, std::move(factory), std::move(view));

  openDocument = [](const std::string& path) { ShowDocument(path); };
  endProcess = [](int code) {
    std::fflush(nullptr);
    std::_Exit(code);
  };

  SetPumpHook([] { QCoreApplication::processEvents(); });
  SetBusyHook([this](bool busy) {
    if (busy && !busyCursor_) QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!busy && busyCursor_) QApplication::restoreOverrideCursor();
    busyCursor_ = busy;
  });
  if (installAnswerer_) SetMessageAnswerer(std::make_shared<QtMessageAnswerer>());

  // SIGTERM closes an idle window like any desktop program; a run first finishes its logs.
  auto* signalWatch = new QTimer(this);
  QObject::connect(signalWatch, &QTimer::timeout, this, [this] {
    if (CancelSignal() != 0 && !running_) close();
  });
  signalWatch->start(kSignalWatchMs);
}

frmFernDispatcher::~frmFernDispatcher() {
  SetPumpHook({});
  SetBusyHook({});
  if (busyCursor_) QApplication::restoreOverrideCursor();
  if (installAnswerer_) SetMessageAnswerer(nullptr);
}

void frmFernDispatcher::BuildControls() {
  GroupBox1 = new QGroupBox(QStringLiteral("Übertragen zu:"), this);
  GroupBox1->setGeometry(kMargin, kMargin, kDesignWidth - 2 * kMargin, 170);
  fpSCheckUebertragung = new QTableWidget(GroupBox1);
  fpSCheckUebertragung->setFrameShape(QFrame::NoFrame);
  fpSCheckUebertragung->setEditTriggers(QAbstractItemView::NoEditTriggers);
  fpSCheckUebertragung->setSelectionMode(QAbstractItemView::NoSelection);
  fpSCheckUebertragung->verticalHeader()->hide();
  fpSCheckUebertragung->setBackgroundRole(QPalette::Button);
  QObject::connect(fpSCheckUebertragung, &QTableWidget::itemChanged, this,
                   [this](QTableWidgetItem* item) {
                     if (item->column() == kColCheck) OnCheckChanged(item->row());
                   });

  const int loginTop = 188;
  butIS24Login = new QPushButton(QStringLiteral("IS24 Anmeldung"), this);
  butIS24Login->setGeometry(kMargin, loginTop, 130, 24);
  butIS24LoginV2 = new QPushButton(QStringLiteral("IS24 Anmeldung V2"), this);
  butIS24LoginV2->setGeometry(kMargin + 136, loginTop, 150, 24);
  Command1 = new QPushButton(QStringLiteral("Anmeldung prüfen"), this);
  Command1->setGeometry(kMargin + 292, loginTop, 150, 24);
  QObject::connect(butIS24Login, &QPushButton::clicked, this,
                   [this] { LoginClick(LoginAction::kBrowserLogin); });
  QObject::connect(butIS24LoginV2, &QPushButton::clicked, this,
                   [this] { LoginClick(LoginAction::kOutsideProgram); });
  QObject::connect(Command1, &QPushButton::clicked, this,
                   [this] { LoginClick(LoginAction::kCheckLogin); });

  const int linkTop = 220;
  int left = kMargin;
  auto link = [&](int width, const char* relative) {
    auto* l = new lnkLabel(this);
    l->setGeometry(left, linkTop, width, 20);
    left += width + 6;
    std::string path = relative;
    l->MouseDown = [this, path](int16_t&, int16_t&, float&, float&) { OpenLink(path); };
    return l;
  };
  lnkLabelTransferLog = link(90, "Dat\\Transfer.log");
  lnkLabelSendLog = link(80, "Dat\\Send.log");
  lnkLabelErrorLog = link(80, "Dat\\Error.log");
  lnkLabelMandant = link(100, "System\\Mandanten.ini");

  lblProgress = new QLabel(this);
  lblProgress->setGeometry(kMargin, 246, kDesignWidth - 2 * kMargin, 20);
  // Every row is one line of text, so the view lays out from one row's height, and in batches
  // while the event loop runs: a line costs the same in a list of ten or of 2,501.
  messages_ = new MessageListModel(this);
  lisMeldung = new QListView(this);
  lisMeldung->setModel(messages_);
  lisMeldung->setUniformItemSizes(true);
  lisMeldung->setLayoutMode(QListView::Batched);
  lisMeldung->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lisMeldung->setItemDelegate(new MessageLineDelegate(lisMeldung));
  lisMeldung->setWordWrap(false);
  lisMeldung->setTextElideMode(Qt::ElideRight);
  lisMeldung->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lisMeldung->setGeometry(kMargin, 270, kDesignWidth - 2 * kMargin, 150);
  // The list lays its lines out in batches after they came; the newest line is scrolled into
  // view once its place is known, unless the user has chosen another line meanwhile.
  QObject::connect(lisMeldung->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
    const int rows = messages_->rowCount();
    if (rows > 0 && lisMeldung->currentIndex().row() == rows - 1) lisMeldung->scrollToBottom();
  });

  lblVersion = new QLabel(this);
  lblVersion->setGeometry(kMargin, 0, 150, kButtonHeight);
  lbl_user = new QLabel(this);
  lbl_user->setGeometry(kMargin + 156, 0, 100, kButtonHeight);

  butStart = new QPushButton(QStringLiteral("Übertragen"), this);
  butCancel = new QPushButton(QStringLiteral("Abbrechen"), this);
  butClose = new QPushButton(QStringLiteral("Schließen"), this);
  butCancel->setEnabled(false);
  QObject::connect(butStart, &QPushButton::clicked, this, [this] { butStart_Click(); });
  // Cancel ends the process; in the middle of a run only once the run has written its record.
  QObject::connect(butCancel, &QPushButton::clicked, this, [this] {
    if (running_)
      StopRunThenEnd("Abbrechen");
    else
      endProcess(exitcode::kOk);
  });
  QObject::connect(butClose, &QPushButton::clicked, this, [this] { close(); });
  Form_Resize();
}

void frmFernDispatcher::ForEachCaption(const std::function<void(std::string& caption)>& visit) {
  auto text = [&](auto* control) {
    std::string caption = control->text().toStdString();
    visit(caption);
    control->setText(Q(caption));
  };
  std::string group = GroupBox1->title().toStdString();
  visit(group);
  GroupBox1->setTitle(Q(group));
  for (QPushButton* b : {butStart, butCancel, butClose, butIS24Login, butIS24LoginV2, Command1})
    text(b);
  text(lbl_user);
}

void frmFernDispatcher::InitMainWindow() {
  HostSession& s = Session();
  {
    BusyScope busy;
    InitHostSession();

    cSkin skin;
    std::string folder = s.g_strHostPath;
    skin.Init(0, Variant(), folder);
    setStyleSheet(Q(skin.StyleSheet()));

    setWindowTitle(Q("FernDispatcher - " + s.g_strUser));
    if (s.g_oLanguagePack) s.g_oLanguagePack->TranslateControls(*this, true);

    butStart->setEnabled(true);
    butCancel->setEnabled(false);
    lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                            .arg(FERN_VERSION_MAJOR)
                            .arg(FERN_VERSION_MINOR)
                            .arg(FERN_VERSION_REVISION));
    lblVersion->setToolTip(Q(s.g_strHostPath));

    lnkLabelTransferLog->SetCaption("Transfer.log");
    lnkLabelSendLog->SetCaption("Send.log");
    lnkLabelErrorLog->SetCaption("Error.log");
    lnkLabelMandant->SetCaption("Mandanten.ini");
    lnkLabelMandant->setVisible(cUtil::Exist(GetHostPath("System\\Mandanten.ini")));

    lblProgress->clear();
    LoadPortalGrid();
    RestoreWindowPos();
    try {
      grid_.LoadTransferStatus();
    } catch (const HostError&) {
      // Unreadable saved states leave every portal checked.
    }
    ShowChecks();
  }
  ApplyScopeFlags(*driver_);
  if (s.g_blnIS24Login) butStart->setEnabled(false);
  portalList_ = PortalListFromSwitch(grid_);
}

void frmFernDispatcher::LoadPortalGrid() {
  grid_.LoadPortalGrid();
  FillGridWidget();
}

void frmFernDispatcher::FillGridWidget() {
  filling_ = true;
  QTableWidget* t = fpSCheckUebertragung;
  t->clear();
  t->setColumnCount(4);
  const char* headers[] = {"DSN", "Übertragen", "BESCHRIFTUNG", "BOERSEN_NAME"};
  for (int c = 0; c < 4; ++c) t->setHorizontalHeaderItem(c, new QTableWidgetItem(Q(headers[c])));
  for (int c : {kColDsn, kColName, kColPortalName}) t->setColumnHidden(c, true);
  const int charWidth = std::max(1, t->fontMetrics().averageCharWidth());
  const int rowHeight = t->fontMetrics().height() + 6;
  t->verticalHeader()->setDefaultSectionSize(rowHeight);

  const std::vector<PortalRow>& rows = grid_.Rows();
  if (rows.empty()) {
    t->setRowCount(1);
    QTableWidgetItem* item = LockedItem(kNoData);
    item->setForeground(QColor(255, 0, 0));
    t->setItem(0, kColCheck, item);
    t->setColumnWidth(kColCheck, 30 * charWidth);
    t->setRowHeight(0, rowHeight + 8);
  } else {
    t->setRowCount(static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
      const PortalRow& r = rows[i];
      int row = static_cast<int>(i);
      t->setItem(row, kColDsn, LockedItem(r.dsn));
      auto* check = new QTableWidgetItem(Q(r.beschriftung));
      check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
      check->setCheckState(r.uebertragen == "1" ? Qt::Checked : Qt::Unchecked);
      // The note is looked up by the portal's key, not by the row's place in a second query.
      check->setToolTip(Q(grid_.GetNotiz(row + 1)));
      t->setItem(row, kColCheck, check);
      t->setItem(row, kColName, LockedItem(r.beschriftung));
      t->setItem(row, kColPortalName, LockedItem(r.boersen_name));
    }
    t->setColumnWidth(kColCheck, 40 * charWidth);
  }
  // The names take the grid's width as the window grows.
  t->horizontalHeader()->setSectionResizeMode(kColCheck, QHeaderView::Stretch);
  filling_ = false;
}

void frmFernDispatcher::ShowChecks() {
  filling_ = true;
  const std::vector<PortalRow>& rows = grid_.Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    QTableWidgetItem* item = fpSCheckUebertragung->item(static_cast<int>(i), kColCheck);
    if (item) item->setCheckState(rows[i].uebertragen == "1" ? Qt::Checked : Qt::Unchecked);
  }
  filling_ = false;
}

void frmFernDispatcher::OnCheckChanged(int row) {
  if (filling_ || row < 0 || row >= static_cast<int>(grid_.Rows().size())) return;
  QTableWidgetItem* item = fpSCheckUebertragung->item(row, kColCheck);
  grid_.Rows()[row].uebertragen = item && item->checkState() == Qt::Checked ? "1" : "0";
}

void frmFernDispatcher::AddMessage(const std::string& text) {
  // The same cap as the driver's list: at most 2,501 lines, the oldest dropped first.
  messages_->Append(Q(text), MessageList::kMaxBeforeAdd);
  lisMeldung->setCurrentIndex(messages_->index(messages_->rowCount() - 1));
}

void frmFernDispatcher::SetRunning(bool running) {
  running_ = running;
  butStart->setEnabled(!running && !loginRunning_ && !Session().g_blnIS24Login);
  butCancel->setEnabled(running);
}

void frmFernDispatcher::SetLoginRunning(bool running) {
  loginRunning_ = running;
  butStart->setEnabled(!running && !running_ && !Session().g_blnIS24Login);
  for (QPushButton* b : {butIS24Login, butIS24LoginV2, Command1}) b->setEnabled(!running);
}

RunDriver::StartResult frmFernDispatcher::butStart_Click() {
  // The cancel flag stays set once pressed; a press belongs to the run it was made in, so a new
  // run starts without it (else one Esc would empty every later run).
  ResetEsc();
  RunDriver::StartResult result = driver_->butStart_Click();
  ShowChecks();
  EndIfStopped();
  if (result == RunDriver::StartResult::kRefusedEndProcess && !Unattended())
    endProcess(exitcode::kAlreadyRunning);
  return result;
}

void frmFernDispatcher::StopRunThenEnd(const std::string& button) {
  endAfterRun_ = true;
  driver_->StopRun(button);
}

void frmFernDispatcher::EndIfStopped() {
  if (!endAfterRun_) return;
  endAfterRun_ = false;
  endProcess(exitcode::kCancelled);
}

int frmFernDispatcher::RunUnattendedTransfer() {
  show();
  QCoreApplication::processEvents();
  driver_->m_blnUnattended = true;
  grid_.ClearPortalChecks();
  grid_.ApplyPortalList(portalList_);
  ShowChecks();
  int code = RunUnattended(grid_, *driver_, portalList_);
  ShowChecks();
  EndIfStopped();
  return code;
}

bool frmFernDispatcher::StaysOpenAfterRun() const {
  return GetCommandSwitch("/NOTCLOSEONERROR") == "1" && driver_->m_lngErrors > 0;
}

void frmFernDispatcher::LoginClick(LoginAction action) {
  const char* handler = action == LoginAction::kBrowserLogin     ? "butIS24Login_Click"
                        : action == LoginAction::kOutsideProgram ? "butIS24LoginV2_Click"
                                                                 : "Command1_Click";
  auto fail = [&](int32_t number, const std::string& description) {
    MessageBox(std::string("There was an error in ") + handler + ".\r\n" + std::to_string(number) +
                   "\r\n" + description,
               mb::kOkOnly, std::string("Error: ") + handler);
  };
  try {
    auto rs = driver_->GetSelectedPortals(portal_type::kRest);
    int64_t count = rs->RecordCount();
    if (count == 0) {
      MessageBox("keine IS24Boerse markiert", mb::kOkOnly);
      return;
    }
    if (count >= 2) {
      MessageBox("zuviel IS24Boersen markiert", mb::kOkOnly);
      return;
    }
    std::string dsn = cUtil::k(rs->Value(size_t{0}));
    rs.reset();
    // Each action lets window events through while it waits (the service's answers, the login
    // program); a run or a second login meanwhile would meet the half-done login.
    SetLoginRunning(true);
    struct Done {
      frmFernDispatcher* w;
      ~Done() { w->SetLoginRunning(false); }
    } done{this};
    switch (action) {
      case LoginAction::kBrowserLogin:
        if (!showLoginWindow) {
          MessageBox("Die Portal-Anmeldung ist in dieser Programmversion nicht verfügbar.",
                     mb::kOkOnly | mb::kExclamation);
          return;
        }
        showLoginWindow(dsn);
        break;
      case LoginAction::kOutsideProgram:
        ShellLoginProgram(dsn);
        break;
      case LoginAction::kCheckLogin:
        CheckIS24RestLogin(dsn, restClient, showAnswerWindow);
        break;
    }
  } catch (const HostError& e) {
    fail(e.number(), e.description());
  } catch (const std::exception& e) {
    fail(0, e.what());
  }
}

void frmFernDispatcher::OpenLink(const std::string& relative) {
  try {
    openDocument(GetHostPath(relative));
  } catch (const HostError& e) {
    ShowMessage(e.description(), mb::kExclamation);
  }
}

void frmFernDispatcher::RestoreWindowPos() {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->geometry() : QRect(0, 0, kDesignWidth, kDesignHeight);
  try {
    std::string pos = Session().g_oUtil->IniGet("FernDispatcher", "MAINPOS", "", GuiIniPath());
    int32_t state = 0, left = 0, top = 0, w = width(), h = height();
    if (!pos.empty()) {
      for (int32_t* value : {&state, &left, &top, &w, &h})
        *value = vb::CLng(Variant(vb::Val(cUtil::StrList_DeleteFirst(pos, "|"))));
    } else {
      left = (area.width() - w) / 2;
      top = (area.height() - h) / 2;
    }
    left = std::max(0, left);
    top = std::max(0, top);
    w = std::min(area.width(), std::max(200, w));
    h = std::min(area.height(), std::max(200, h));
    setGeometry(left, top, w, h);
    // A window saved minimised comes back maximised.
    if (state == kSavedMinimized || state == kSavedMaximized) setWindowState(Qt::WindowMaximized);
  } catch (const std::exception&) {
    // What was restored until the error stays.
  }
}

void frmFernDispatcher::SaveWindowPos() {
  try {
    if (!Session().g_oUtil) return;
    const int32_t state = isMinimized()   ? kSavedMinimized
                          : isMaximized() ? kSavedMaximized
                                          : kSavedNormal;
    QRect g = state == kSavedNormal ? geometry() : normalGeometry();
    std::string value = std::to_string(state) + "|" + std::to_string(g.x()) + "|" +
                        std::to_string(g.y()) + "|" + std::to_string(g.width()) + "|" +
                        std::to_string(g.height());
    Session().g_oUtil->IniWrite("FernDispatcher", "MAINPOS", value, GuiIniPath());
  } catch (const std::exception&) {
  }
}

void frmFernDispatcher::Form_Resize() {
  const int w = width(), h = height();
  const int top = h - kMargin - kButtonHeight;
  butClose->setGeometry(w - kMargin - kButtonWidth, top, kButtonWidth, kButtonHeight);
  butCancel->setGeometry(butClose->x() - kMargin - kButtonWidth, top, kButtonWidth, kButtonHeight);
  butStart->setGeometry(butCancel->x() - kMargin - kButtonWidth, top, kButtonWidth, kButtonHeight);
  lblVersion->move(lblVersion->x(), top);
  lbl_user->move(lbl_user->x(), top);
  // A window smaller than its controls gets no negative sizes.
  const int listWidth = std::max(0, w - 2 * kMargin);
  lisMeldung->setGeometry(kMargin, lisMeldung->y(), listWidth,
                          std::max(0, top - lisMeldung->y() - kMargin));
  lblProgress->resize(listWidth, lblProgress->height());
  GroupBox1->resize(listWidth, GroupBox1->height());
  fpSCheckUebertragung->setGeometry(8, 20, std::max(0, listWidth - 16),
                                    std::max(0, GroupBox1->height() - 28));
}

void frmFernDispatcher::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    SetEsc();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void frmFernDispatcher::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

void frmFernDispatcher::closeEvent(QCloseEvent* event) {
  SaveWindowPos();
  if (running_) {
    // The window stays until the run has stopped and written its record.
    event->ignore();
    StopRunThenEnd("Schließen");
    return;
  }
  event->accept();
  // Another window (the portal login) would keep the program alive without its main window.
  for (QWidget* other : QApplication::topLevelWidgets()) {
    const Qt::WindowType type = other->windowType();
    if (other != this && other->isVisible() && (type == Qt::Window || type == Qt::Dialog)) {
      endProcess(exitcode::kOk);
      return;
    }
  }
}

}  // namespace fern
