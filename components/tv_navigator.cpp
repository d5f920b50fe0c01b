#include "tv_navigator.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "db_error.h"
#include "tv_dialogs.h"
#include "tv_qtdialogs.h"

// The pictures live in a resource of this static library; referencing its initialiser keeps
// the linker from dropping it. (Must be outside any namespace.)
static void InitNavigatorIcons() { Q_INIT_RESOURCE(navigator_icons); }

namespace fendral {

namespace {

struct ButtonInfo {
  const char* picture;  // word of the picture name tolvern_<word>
  const char* hint;     // default hint, translated when applied
};

// In TTolvernNavigateBtn order.
constexpr std::array<ButtonInfo, kNavButtonCount> kButtons = {{
    {"top", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "First record")},
    {"previous", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Prior record")},
    {"next", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Next record")},
    {"bottom", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Last record")},
    {"append", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Append record")},
    {"copy", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", " Copy record")},
    {"edit", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Edit record")},
    {"delete", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Delete record")},
    {"save", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Save record")},
    {"cancel", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Cancel edit")},
    {"find", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Find record")},
    {"refresh", QT_TRANSLATE_NOOP("fendral::TTolvernNavigator", "Refresh data")},
}};

// The bar's size when it is created.
constexpr int kInitialWidth = 241;
constexpr int kInitialHeight = 25;
constexpr int kGlyphSize = 16;

// A picture holds the normal glyph and, to its right, the disabled one.
QIcon LoadGlyphs(const char* word) {
  const QPixmap picture(QStringLiteral(":/navigator/tolvern_%1.png").arg(QLatin1String(word)));
  QIcon icon;
  if (picture.isNull()) return icon;
  const int glyphWidth =
      picture.width() >= 2 * picture.height() ? picture.width() / 2 : picture.width();
  icon.addPixmap(picture.copy(0, 0, glyphWidth, picture.height()), QIcon::Normal);
  if (glyphWidth < picture.width())
    icon.addPixmap(picture.copy(glyphWidth, 0, glyphWidth, picture.height()), QIcon::Disabled);
  return icon;
}

}  // namespace

// ---------------------------------------------------------------- TTolvernNavDataLink

void TTolvernNavDataLink::ActiveChanged() { navigator_.UpdateButtons(); }
void TTolvernNavDataLink::DataSetChanged() { navigator_.UpdateButtons(); }
void TTolvernNavDataLink::EditingChanged() { navigator_.UpdateButtons(); }

// ---------------------------------------------------------------- TTolvernNavButton

TTolvernNavButton::TTolvernNavButton(TTolvernNavigator& navigator, TTolvernNavigateBtn index)
    : QToolButton(&navigator), navigator_(navigator), index_(index) {
  setFocusPolicy(Qt::NoFocus);
  setToolButtonStyle(Qt::ToolButtonIconOnly);
  setIconSize(QSize(kGlyphSize, kGlyphSize));
  connect(this, &QToolButton::clicked, this, [this] { navigator_.UserClick(index_); });
  connect(&repeatTimer_, &QTimer::timeout, this, &TTolvernNavButton::RepeatTimerExpired);
}

void TTolvernNavButton::SetRepeatStyle(bool repeat) {
  repeatStyle_ = repeat;
  if (!repeat) repeatTimer_.stop();
}

void TTolvernNavButton::RepeatTimerExpired() {
  repeatTimer_.setInterval(TTolvernNavigator::kRepeatPause);
  if (!held_ || !isDown()) return;
  if (!navigator_.UserClick(index_)) repeatTimer_.stop();
}

void TTolvernNavButton::mousePressEvent(QMouseEvent* event) {
  QToolButton::mousePressEvent(event);
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  held_ = true;
  navigator_.ButtonPressed(index_);
  if (repeatStyle_) repeatTimer_.start(TTolvernNavigator::kInitialRepeatPause);
}

void TTolvernNavButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    held_ = false;
    repeatTimer_.stop();
  }
  QToolButton::mouseReleaseEvent(event);
}

void TTolvernNavButton::changeEvent(QEvent* event) {
  QToolButton::changeEvent(event);
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    held_ = false;
    repeatTimer_.stop();
  }
}

void TTolvernNavButton::paintEvent(QPaintEvent* event) {
  QToolButton::paintEvent(event);
  if (!navigator_.hasFocus() || navigator_.FocusedButton() != index_) return;
  // The focus mark: a dotted rectangle 3 pixels inside the button, following a pressed face.
  QPainter painter(this);
  QRect mark = rect().adjusted(3, 3, -4, -4);
  if (isDown()) mark.translate(1, 1);
  painter.setPen(QPen(palette().color(QPalette::ButtonText), 1, Qt::DotLine));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(mark);
}

// ---------------------------------------------------------------- TTolvernNavigator

TTolvernNavigator::TTolvernNavigator(QWidget* parent) : QWidget(parent), link_(*this) {
  InitNavigatorIcons();
  setFocusPolicy(Qt::NoFocus);
  for (int i = 0; i < kNavButtonCount; ++i) {
    const auto index = static_cast<TTolvernNavigateBtn>(i);
    auto button = std::make_unique<TTolvernNavButton>(*this, index);
    button->setAutoRaise(flat_);
    button->setIcon(LoadGlyphs(kButtons[static_cast<size_t>(i)].picture));
    button->setGeometry(i * kMinButtonWidth, 0, kMinButtonWidth, kMinButtonHeight);
    button->setVisible(visibleButtons_.Contains(index));
    button->SetRepeatStyle(index == nbPrev || index == nbNext);
    buttons_[static_cast<size_t>(i)] = std::move(button);
  }
  ApplyHints();
  ApplySizePolicy();
  resize(kInitialWidth, kInitialHeight);
  LayoutButtons();
  UpdateButtons();
}

TTolvernNavigator::~TTolvernNavigator() {
  // Leave the data source while the buttons still exist.
  link_.SetDataSource(nullptr);
}

void TTolvernNavigator::SetDataSource(TDataSource* source) {
  link_.SetDataSource(source);
  UpdateButtons();
}

void TTolvernNavigator::SetVisibleButtons(TTolvernButtonSet buttons) {
  visibleButtons_ = buttons;
  for (int i = 0; i < kNavButtonCount; ++i) {
    const auto index = static_cast<TTolvernNavigateBtn>(i);
    Button(index)->setVisible(buttons.Contains(index));
  }
  // The focus mark stays on a button the user can see.
  if (!buttons.Contains(focusedButton_)) {
    for (int i = 0; i < kNavButtonCount; ++i) {
      const auto index = static_cast<TTolvernNavigateBtn>(i);
      if (buttons.Contains(index)) {
        MoveFocusMark(index);
        break;
      }
    }
  }
  updateGeometry();
  LayoutButtons();
  update();
}

void TTolvernNavigator::SetFlat(bool flat) {
  flat_ = flat;
  for (const auto& button : buttons_) button->setAutoRaise(flat);
}

void TTolvernNavigator::SetHints(const QStringList& hints) {
  hints_ = hints;
  ApplyHints();
}

QString TTolvernNavigator::Hint(TTolvernNavigateBtn index) const {
  return Button(index)->toolTip();
}

void TTolvernNavigator::ApplyHints() {
  for (int i = 0; i < kNavButtonCount; ++i) {
    QString hint = tr(kButtons[static_cast<size_t>(i)].hint);
    if (i < hints_.size() && !hints_[i].isEmpty()) hint = hints_[i];
    TTolvernNavButton* button = buttons_[static_cast<size_t>(i)].get();
    button->setToolTip(hint);
    // Screen readers and tests find the button by what it says, without stray blanks.
    button->setAccessibleName(hint.trimmed());
  }
}

void TTolvernNavigator::SetAlign(TAlign align) {
  align_ = align;
  ApplySizePolicy();
  updateGeometry();
  LayoutButtons();
}

void TTolvernNavigator::ApplySizePolicy() {
  using P = QSizePolicy;
  switch (align_) {
    case alNone:
      setSizePolicy(P::Fixed, P::Fixed);
      break;
    case alTop:
    case alBottom:
      setSizePolicy(P::Expanding, P::Fixed);
      break;
    case alLeft:
    case alRight:
      setSizePolicy(P::Fixed, P::Expanding);
      break;
    case alClient:
      setSizePolicy(P::Expanding, P::Expanding);
      break;
  }
}

void TTolvernNavigator::SetTabStop(bool tabStop) {
  tabStop_ = tabStop;
  setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::NoFocus);
}

int TTolvernNavigator::VisibleCount() const {
  int count = 0;
  for (int i = 0; i < kNavButtonCount; ++i)
    if (visibleButtons_.Contains(static_cast<TTolvernNavigateBtn>(i))) ++count;
  return count;
}

QSize TTolvernNavigator::sizeHint() const {
  return QSize(std::max(1, VisibleCount()) * kMinButtonWidth, kInitialHeight);
}

QSize TTolvernNavigator::minimumSizeHint() const {
  return QSize(std::max(1, VisibleCount()) * kMinButtonWidth, kMinButtonHeight);
}

// ---------------------------------------------------------------- Enabling

void TTolvernNavigator::UpdateButtons() {
  std::array<bool, kNavButtonCount> enabled{};
  TDataSet* dataSet = link_.DataSet();
  if (isEnabled() && link_.Active() && dataSet) {
    const bool editing = link_.Editing();
    const bool canModify = dataSet->CanModify();
    const bool bof = dataSet->Bof();
    const bool eof = dataSet->Eof();
    enabled[nbTop] = enabled[nbPrev] = !bof;
    enabled[nbNext] = enabled[nbBttm] = !eof;
    enabled[nbInsert] = enabled[nbCopy] = enabled[nbEdit] = canModify && !editing;
    // One rule whichever notification came last: nothing to delete in an empty dataset, and
    // a record being edited or inserted is saved or cancelled first.
    enabled[nbDelete] = canModify && !editing && !(bof && eof);
    enabled[nbPost] = enabled[nbCancel] = canModify && editing;
    enabled[nbFind] = enabled[nbRefresh] = !editing;
  }
  for (int i = 0; i < kNavButtonCount; ++i)
    buttons_[static_cast<size_t>(i)]->setEnabled(enabled[static_cast<size_t>(i)]);
}

// ---------------------------------------------------------------- Layout

void TTolvernNavigator::LayoutButtons() {
  if (layingOut_) return;
  layingOut_ = true;
  const int count = std::max(1, VisibleCount());
  int width = std::max(this->width(), count * kMinButtonWidth);
  const int height = std::max(this->height(), kMinButtonHeight);
  const int buttonWidth = width / count;
  const int usedWidth = count * buttonWidth;
  if (align_ == alNone) width = usedWidth;
  if (width != this->width() || height != this->height()) resize(width, height);

  // Spread the spare pixels from left to right, one to a button.
  const int spare = width - usedWidth;
  int counter = count / 2;
  int x = 0;
  for (int i = 0; i < kNavButtonCount; ++i) {
    TTolvernNavButton* button = buttons_[static_cast<size_t>(i)].get();
    if (!visibleButtons_.Contains(static_cast<TTolvernNavigateBtn>(i))) {
      button->setGeometry(width + 1, 0, buttonWidth, height);
      continue;
    }
    int extra = 0;
    if (spare > 0) {
      counter -= spare;
      if (counter < 0) {
        counter += count;
        extra = 1;
      }
    }
    button->setGeometry(x, 0, buttonWidth + extra, height);
    x += buttonWidth + extra;
  }
  layingOut_ = false;
}

void TTolvernNavigator::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutButtons();
  if (OnResize) OnResize(*this);
}

// ---------------------------------------------------------------- Clicks

void TTolvernNavigator::BtnClick(TTolvernNavigateBtn index) {
  TDataSource* source = link_.DataSource();
  TDataSet* dataSet = source ? source->DataSet() : nullptr;
  if (dataSet && source->State() != dsInactive) {
    if (BeforeAction) BeforeAction(*this, index);
    switch (index) {
      case nbTop:
        dataSet->First();
        break;
      case nbPrev:
        dataSet->Prior();
        break;
      case nbNext:
        dataSet->Next();
        break;
      case nbBttm:
        dataSet->Last();
        break;
      case nbInsert:
        dataSet->Insert();
        break;
      case nbCopy:
        if (OnCopyClick) OnCopyClick(*dataSet);
        break;
      case nbEdit:
        dataSet->Edit();
        break;
      case nbDelete:
        DeleteRecord(*dataSet);
        break;
      case nbPost:
        dataSet->Post();
        break;
      case nbCancel:
        dataSet->Cancel();
        break;
      case nbFind:
        if (OnFindClick) OnFindClick(*dataSet);
        break;
      case nbRefresh:
        // Refresh posts or cancels a pending edit first, then re-reads around the record.
        dataSet->Refresh();
        break;
    }
  }
  if (OnClick) OnClick(*this, index);
}

void TTolvernNavigator::DeleteRecord(TDataSet& dataSet) {
  if (confirmDelete_) {
    const QString caption = tr("Confirm");
    const QString question = tr("Delete record?");
    const bool ok = dialogs_ ? dialogs_->Confirm(caption, question)
                             : TQtDialogs(this).Confirm(caption, question);
    if (!ok) return;
  }
  dataSet.Delete();
}

bool TTolvernNavigator::UserClick(TTolvernNavigateBtn index) {
  try {
    BtnClick(index);
    return true;
  } catch (const EAbort&) {
    return false;
  } catch (const std::exception& error) {
    ReportError(error);
    return false;
  }
}

void TTolvernNavigator::ReportError(const std::exception& error) {
  if (OnError) {
    OnError(*this, error);
    return;
  }
  QMessageBox::warning(window(), QApplication::applicationDisplayName(),
                       QString::fromUtf8(error.what()));
}

// ---------------------------------------------------------------- Keyboard and focus

void TTolvernNavigator::MoveFocusMark(TTolvernNavigateBtn index) {
  if (index == focusedButton_) return;
  const TTolvernNavigateBtn old = focusedButton_;
  focusedButton_ = index;
  Button(old)->update();
  Button(index)->update();
}

void TTolvernNavigator::ButtonPressed(TTolvernNavigateBtn index) {
  MoveFocusMark(index);
  if (tabStop_ && !hasFocus() && isEnabled()) setFocus(Qt::MouseFocusReason);
}

void TTolvernNavigator::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) {
    QWidget::keyPressEvent(event);
    return;
  }
  switch (event->key()) {
    case Qt::Key_Right:
      // The next visible button; the mark stays when none follows.
      for (int i = focusedButton_ + 1; i < kNavButtonCount; ++i) {
        if (visibleButtons_.Contains(static_cast<TTolvernNavigateBtn>(i))) {
          MoveFocusMark(static_cast<TTolvernNavigateBtn>(i));
          break;
        }
      }
      break;
    case Qt::Key_Left:
      for (int i = focusedButton_ - 1; i >= 0; --i) {
        if (visibleButtons_.Contains(static_cast<TTolvernNavigateBtn>(i))) {
          MoveFocusMark(static_cast<TTolvernNavigateBtn>(i));
          break;
        }
      }
      break;
    case Qt::Key_Space: {
      TTolvernNavButton* button = Button(focusedButton_);
      if (button->isEnabled() && visibleButtons_.Contains(focusedButton_))
        UserClick(focusedButton_);
      break;
    }
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

void TTolvernNavigator::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  Button(focusedButton_)->update();
  if (OnEnter) OnEnter(*this);
}

void TTolvernNavigator::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  Button(focusedButton_)->update();
  if (OnExit) OnExit(*this);
}

void TTolvernNavigator::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::EnabledChange)
    UpdateButtons();
  else if (event->type() == QEvent::LanguageChange)
    ApplyHints();
}

void TTolvernNavigator::mouseDoubleClickEvent(QMouseEvent* event) {
  QWidget::mouseDoubleClickEvent(event);
  if (OnDblClick) OnDblClick(*this);
}

}  // namespace fendral
