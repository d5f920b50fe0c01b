#include "tv_damagenotices.h"

#include "tv_commandtext.h"

namespace fendral {

QString TDamageNotices::Untold(TTolvernDataSet& table) {
  if (!table.Active()) return {};
  QStringList lines;
  for (const TTVDamagedIndex& damaged : table.DamagedIndexes()) {
    if (told_.contains(damaged.path)) continue;
    told_ << damaged.path;
    lines << TWindowText::tr("The index file %1 cannot be read: %2")
                 .arg(damaged.path, damaged.reason);
  }
  if (lines.isEmpty()) return {};
  lines << (lines.size() == 1
                ? TWindowText::tr("The table is used without it; the file will not be kept "
                                  "current until it is rebuilt (Reindex).")
                : TWindowText::tr("The table is used without them; these files will not be kept "
                                  "current until they are rebuilt (Reindex)."));
  return lines.join(QLatin1Char('\n'));
}

bool TDamageNotices::TellUntold(TTolvernDataSet& table, TAppDialogs& dialogs) {
  const QString notice = Untold(table);
  return !notice.isEmpty() && dialogs.MessageOffering(TWindowText::tr("Fendral"), notice,
                                                      TWindowText::tr("Check table"));
}

void TDamageNotices::Reset(TTolvernDataSet& table) {
  told_.clear();
  for (const TTVDamagedIndex& damaged : table.DamagedIndexes()) told_ << damaged.path;
}

}  // namespace fendral
