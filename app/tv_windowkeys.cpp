#include "tv_windowkeys.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "Unit1.h"

namespace fendral {

namespace {

bool Alone(const QKeyEvent* event) {
  return (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
}

}  // namespace

bool HandleWindowKey(TMainWindow& window, QKeyEvent& keyEvent, QWidget* receiver) {
  const QKeyEvent* event = &keyEvent;
  const int key = event->key();
  if (window.Busy()) {
    // No key acts while work runs; Esc asks it to stop, as the dialog's "Cancel" does.
    if (key == Qt::Key_Escape && Alone(event)) window.Worker().Cancel();
    return true;
  }
  const Qt::KeyboardModifiers mods =
      event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if ((key == Qt::Key_F3 && Alone(event)) || (key == Qt::Key_F7 && mods == Qt::ShiftModifier)) {
    window.FindNext();
    return true;
  }
  if (key == Qt::Key_F8 && mods == Qt::ShiftModifier) {
    if (!window.Busy()) window.BrowsePage()->ToggleDos();
    return true;
  }
  if ((key == Qt::Key_F7 && Alone(event)) || (key == Qt::Key_F && mods == Qt::ControlModifier)) {
    window.Find();
    return true;
  }
  if (key == Qt::Key_Insert && mods == Qt::ControlModifier) {
    // Copies the record while the grid has the focus; a cell editor keeps the key.
    TBrowseGrid* grid = window.BrowsePage()->Grid();
    if ((receiver != grid && !grid->isAncestorOf(receiver)) || grid->Editing()) return false;
    window.CopyRecord();
    return true;
  }
  if (!Alone(event)) return false;
  switch (key) {
    case Qt::Key_F5:
      window.GotoRecord();
      return true;
    case Qt::Key_F9:
      window.SwitchPage();
      return true;
    case Qt::Key_F2:
      // A cell being typed in is written into the record first.
      if (window.BrowsePage()->Grid()->Editing()) window.BrowsePage()->FocusGrid();
      window.EditOrPost();
      return true;
    case Qt::Key_F8:
      window.ToggleDeleteMark();
      return true;
    case Qt::Key_Escape: {
      // On the structure page Esc cancels the cell, then the row; never the window.
      if (window.Pages()->isVisible() && window.Pages()->currentWidget() == window.StructurePage())
        return window.Busy() || window.StructurePage()->EscapePressed(receiver);
      // Esc cancels whatever is open, innermost first: a cell editor (the grid's own
      // handling), a text being typed elsewhere (focus back to the grid, text kept), the
      // record's edit; only with nothing open does it close the window.
      if (window.BrowsePage()->Grid()->Editing()) return false;
      auto* line = qobject_cast<QLineEdit*>(receiver);
      auto* text = qobject_cast<QPlainTextEdit*>(receiver);
      if ((line && !line->isReadOnly()) || (text && !text->isReadOnly())) {
        window.BrowsePage()->FocusGrid();
        return true;
      }
      window.Escape();
      return true;
    }
    default:
      return false;
  }
}

TWindowKeys::TWindowKeys(TMainWindow& window) : QObject(&window), window_(window) {
  qApp->installEventFilter(this);
}

TWindowKeys::~TWindowKeys() { qApp->removeEventFilter(this); }

bool TWindowKeys::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != &window_) return false;
  // A key handled here is consumed; one that is not goes on to its control (and may pass
  // here again on its way to the parents, where it is still not ours).
  return HandleWindowKey(window_, *static_cast<QKeyEvent*>(event), widget);
}

}  // namespace fendral
