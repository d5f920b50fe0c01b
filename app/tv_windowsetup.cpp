#include "tv_windowsetup.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <utility>

#include "tv_commandtext.h"
#include "tv_log.h"

namespace fendral {

void SetUpTables(std::initializer_list<TTolvernDataSet*> tables) {
  QSettings settings;
  const std::string oem = settings.value(QStringLiteral("codepages/oem"), QStringLiteral("CP866"))
                              .toString()
                              .toStdString();
  const std::string ansi =
      settings.value(QStringLiteral("codepages/ansi"), QStringLiteral("CP1251"))
          .toString()
          .toStdString();
  for (TTolvernDataSet* table : tables) {
    table->SetExclusive(false);
    table->SetLockProtocol(tolvern::TkxLokProtocol::Default);
    table->SetTranslateASCII(true);
    table->SetUserID(0);
    try {
      table->SetCodePages(oem, ansi);
    } catch (const std::exception&) {
      // An unknown remembered pair falls back to the default one.
      LogSwallowed("setting the remembered code-page pair");
    }
  }
  if (tables.size() == 0) return;
  const TTolvernDataSet& first = **tables.begin();
  settings.setValue(QStringLiteral("codepages/oem"), QString::fromStdString(first.OemCodePage()));
  settings.setValue(QStringLiteral("codepages/ansi"), QString::fromStdString(first.AnsiCodePage()));
}

void DefineStructureTable(TMemTable& table) {
  for (const char* def :
       {"Field;4;0;0", "Name;1;10;0", "DBF Type;1;1;0", "Len;4;0;0", "Dec;4;0;0", "Origin;4;0;0"})
    table.FieldDefs().AddFromText(QLatin1String(def));
  table.SetIndexFieldName(QStringLiteral("Field"));
  table.Open();
  // The grid's column titles are in the user's language; the field names stay as they are.
  for (const auto& [name, label] :
       {std::pair{"Field", TWindowText::tr("Field")}, std::pair{"Name", TWindowText::tr("Name")},
        std::pair{"DBF Type", TWindowText::tr("DBF Type")},
        std::pair{"Len", TWindowText::tr("Len")}, std::pair{"Dec", TWindowText::tr("Dec")}})
    table.FieldByName(QLatin1String(name))->SetDisplayLabel(label);
}

void RestoreWindowPlace(QMainWindow& window) {
  QSettings settings;
  const QByteArray geometry = settings.value(QStringLiteral("window/geometry")).toByteArray();
  if (!geometry.isEmpty() && window.restoreGeometry(geometry)) return;
  // First start: centred on the screen.
  window.resize(1000, 640);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                           screen->availableGeometry()));
}

}  // namespace fendral
