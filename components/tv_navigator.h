// The navigator bar: twelve picture buttons bound to a data source, with which the user moves
// through a dataset and edits it (first, prior, next, last, insert, copy, edit, delete, save,
// cancel, find, refresh).
//
// The bar enables each button from the dataset's state, asks before deleting (through the
// dialog interface, so tests answer without a modal box), hands the copy and find buttons to
// the program through events, and lets the keyboard move a focus mark between the buttons
// (arrow keys, space clicks). Prior and next repeat while held: first after 400 ms, then every
// 100 ms.
//
// Sizing: the visible buttons share the bar's width; pixels that do not divide evenly are
// spread over the buttons from left to right. With Align alNone the bar is not laid out by its
// parent and shrinks its own width to what the buttons use; with any other Align the parent's
// layout gives it its size (the Align picks the size policy) and the bar keeps that width.
#pragma once

#include <QStringList>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>

#include "datasource.h"

namespace fendral {

class IDialogs;
class TTolvernNavigator;

// The buttons in bar order.
enum TTolvernNavigateBtn {
  nbTop,
  nbPrev,
  nbNext,
  nbBttm,
  nbInsert,
  nbCopy,
  nbEdit,
  nbDelete,
  nbPost,
  nbCancel,
  nbFind,
  nbRefresh,
};
inline constexpr int kNavButtonCount = 12;

// A set of buttons; bit k stands for the button with index k (all twelve: 4095).
class TTolvernButtonSet {
 public:
  constexpr TTolvernButtonSet() = default;
  constexpr TTolvernButtonSet(std::initializer_list<TTolvernNavigateBtn> buttons) {
    for (TTolvernNavigateBtn button : buttons) Include(button);
  }
  static constexpr TTolvernButtonSet FromBits(unsigned bits) {
    TTolvernButtonSet set;
    set.bits_ = bits & kAllBits;
    return set;
  }
  static constexpr TTolvernButtonSet All() { return FromBits(kAllBits); }
  constexpr unsigned Bits() const { return bits_; }
  constexpr bool Contains(TTolvernNavigateBtn button) const { return (bits_ >> button) & 1u; }
  constexpr TTolvernButtonSet& Include(TTolvernNavigateBtn button) {
    bits_ |= 1u << button;
    return *this;
  }
  constexpr TTolvernButtonSet& Exclude(TTolvernNavigateBtn button) {
    bits_ &= ~(1u << button);
    return *this;
  }
  friend constexpr bool operator==(TTolvernButtonSet, TTolvernButtonSet) = default;

 private:
  static constexpr unsigned kAllBits = (1u << kNavButtonCount) - 1;
  unsigned bits_ = 0;
};

// How the bar sits in its parent: alNone means the parent does not lay it out.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

using ETolvernNavClick = std::function<void(TTolvernNavigator& sender, TTolvernNavigateBtn button)>;
using TNavDataSetEvent = std::function<void(TDataSet& dataSet)>;
using TNavNotifyEvent = std::function<void(TTolvernNavigator& sender)>;
using TNavErrorEvent = std::function<void(TTolvernNavigator& sender, const std::exception& error)>;

// The bar's end of the data connection: tells the bar when the link becomes active or
// inactive, when the data set changes or scrolls, and when editing starts or ends.
class TTolvernNavDataLink : public TDataLink {
 public:
  explicit TTolvernNavDataLink(TTolvernNavigator& navigator) : navigator_(navigator) {}

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void EditingChanged() override;

 private:
  TTolvernNavigator& navigator_;
};

// One button of the bar. Its picture holds a normal and a disabled glyph. A button with the
// repeat style clicks again while held: its timer starts at 400 ms when pressed, runs every
// 100 ms after the first tick and stops when the mouse is released or a click fails.
class TTolvernNavButton : public QToolButton {
  Q_OBJECT

 public:
  TTolvernNavButton(TTolvernNavigator& navigator, TTolvernNavigateBtn index);

  TTolvernNavigateBtn Index() const { return index_; }
  bool RepeatStyle() const { return repeatStyle_; }
  void SetRepeatStyle(bool repeat);
  // The repeat timer (inactive unless a repeating button is held down).
  const QTimer& RepeatTimer() const { return repeatTimer_; }
  // One tick of the repeat timer: later ticks come every 100 ms; while the button is still
  // held down it is clicked again.
  void RepeatTimerExpired();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // A button disabled while held (next at the end) stops repeating: it gets no release.
  void changeEvent(QEvent* event) override;

 private:
  TTolvernNavigator& navigator_;
  TTolvernNavigateBtn index_;
  bool repeatStyle_ = false;
  bool held_ = false;  // pressed with the left mouse button and not yet released
  QTimer repeatTimer_;
};

class TTolvernNavigator : public QWidget {
  Q_OBJECT

 public:
  // Smallest size of one button.
  static constexpr int kMinButtonWidth = 20;
  static constexpr int kMinButtonHeight = 18;
  // Repeat timing of prior and next, in milliseconds.
  static constexpr int kInitialRepeatPause = 400;
  static constexpr int kRepeatPause = 100;

  explicit TTolvernNavigator(QWidget* parent = nullptr);
  ~TTolvernNavigator() override;

  // The data source the bar works on (none by default). A data source that is destroyed
  // leaves the bar, which then has none.
  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);

  // Buttons shown (all twelve by default). Hidden buttons lie beyond the bar's right edge.
  TTolvernButtonSet VisibleButtons() const { return visibleButtons_; }
  void SetVisibleButtons(TTolvernButtonSet buttons);
  // Flat buttons (off by default).
  bool Flat() const { return flat_; }
  void SetFlat(bool flat);
  // Replacement hints by button index: a non-empty line k replaces the hint of button k.
  const QStringList& Hints() const { return hints_; }
  void SetHints(const QStringList& hints);
  // The hint button `index` shows now (tool tip and accessible name).
  QString Hint(TTolvernNavigateBtn index) const;
  // Ask "Delete record?" before deleting (on by default).
  bool ConfirmDelete() const { return confirmDelete_; }
  void SetConfirmDelete(bool confirm) { confirmDelete_ = confirm; }
  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);
  // The bar takes the keyboard focus by Tab and by mouse clicks (off by default).
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool tabStop);
  // The interface through which the bar asks its questions; null (the default) uses Qt
  // message boxes. Not owned.
  void SetDialogs(IDialogs* dialogs) { dialogs_ = dialogs; }

  TTolvernNavButton* Button(TTolvernNavigateBtn index) const {
    return buttons_[static_cast<size_t>(index)].get();
  }
  // The button that carries the keyboard focus mark.
  TTolvernNavigateBtn FocusedButton() const { return focusedButton_; }

  // Does what a click on the button does, whether or not it is enabled: with an active data
  // source, BeforeAction and the button's action; then, in any case, OnClick. Errors of the
  // action reach the caller (and OnClick is not raised).
  void BtnClick(TTolvernNavigateBtn index);

  // Events. BeforeAction may refuse the action by throwing (Abort() for silence).
  ETolvernNavClick BeforeAction;
  ETolvernNavClick OnClick;
  TNavDataSetEvent OnCopyClick;
  TNavDataSetEvent OnFindClick;
  TNavNotifyEvent OnDblClick;
  TNavNotifyEvent OnEnter;
  TNavNotifyEvent OnExit;
  TNavNotifyEvent OnResize;
  // An error of a click the user made (mouse, keyboard, repeat). Unset: shown in a message
  // box. A silent abort (EAbort) is never reported.
  TNavErrorEvent OnError;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  friend class TTolvernNavDataLink;
  friend class TTolvernNavButton;

  // Enables every button from the link's and the dataset's state.
  void UpdateButtons();
  // Places the visible buttons side by side over the bar's width.
  void LayoutButtons();
  void ApplyHints();
  void ApplySizePolicy();
  int VisibleCount() const;
  // A button was pressed with the mouse: it takes the focus mark (and the bar the focus).
  void ButtonPressed(TTolvernNavigateBtn index);
  void MoveFocusMark(TTolvernNavigateBtn index);
  // A click the user made; answers false when it failed (the error has been reported).
  bool UserClick(TTolvernNavigateBtn index);
  void ReportError(const std::exception& error);
  void DeleteRecord(TDataSet& dataSet);

  TTolvernNavDataLink link_;
  std::array<std::unique_ptr<TTolvernNavButton>, kNavButtonCount> buttons_;
  TTolvernButtonSet visibleButtons_ = TTolvernButtonSet::All();
  QStringList hints_;
  IDialogs* dialogs_ = nullptr;
  TAlign align_ = alNone;
  TTolvernNavigateBtn focusedButton_ = nbTop;
  bool flat_ = false;
  bool confirmDelete_ = true;
  bool tabStop_ = false;
  bool layingOut_ = false;
};

}  // namespace fendral
