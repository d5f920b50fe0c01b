// Window tests: GoogleTest inside a QApplication on the offscreen platform, with settings
// kept in a scratch folder so that runs never see (or change) a user's settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include "kx6_Date.h"
#include "platform/pf_misc.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir settings;
  QSettings::setDefaultFormat(QSettings::IniFormat);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QApplication::setOrganizationName(QStringLiteral("Fendral"));
  QApplication::setApplicationName(QStringLiteral("FendralTests"));
  tolvern::platform::SetShortDateFormat("MM/DD/YYYY");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
