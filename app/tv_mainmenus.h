// The main window's menu bar: "File" (with the recent tables), "Database", "Records" and
// "About ...". Each item calls the window's command of the same name.
#pragma once

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <functional>

namespace fendral {

class TMainWindow;

struct TMainMenus {
  QMenu* database = nullptr;
  QMenu* recent = nullptr;
  QAction* open = nullptr;
  QAction* close = nullptr;
  QAction* exit = nullptr;
  QAction* reindex = nullptr;
};

// Builds the menus of `window` into `bar`.
TMainMenus BuildMainMenus(TMainWindow& window, QMenuBar& bar);

// Fills the "Recent tables" menu from the settings; choosing an item calls `open`.
void FillRecentMenu(QMenu& menu, const std::function<void(const QString& path)>& open);
// Puts `path` first in the settings' list of recent tables.
void RememberRecentTable(const QString& path);

}  // namespace fendral
