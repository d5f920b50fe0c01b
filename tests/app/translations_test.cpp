// The translations: every text the window, the components and the record-set layer show is
// translated in every committed .ts file (checked by running lupdate over today's sources),
// translations keep the placeholders and accelerators of their source, and the compiled
// translations are found and loaded for a locale.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

#include "Unit1.h"
#include "app_test_util.h"
#include "fields.h"
#include "tv_about.h"
#include "tv_translations.h"

namespace fendral {
namespace {

const QString kSourceDir = QStringLiteral(FENDRAL_SOURCE_DIR);

struct TsMessage {
  QString context;
  QString source;
  QString type;              // the translation's type attribute ("unfinished", "vanished", ...)
  QStringList translations;  // one, or the numerus forms
};

std::vector<TsMessage> ReadTs(const QString& path) {
  std::vector<TsMessage> messages;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return messages;
  QXmlStreamReader xml(&file);
  QString context;
  TsMessage message;
  while (!xml.atEnd()) {
    xml.readNext();
    if (!xml.isStartElement()) continue;
    if (xml.name() == QLatin1String("name")) {
      context = xml.readElementText();
    } else if (xml.name() == QLatin1String("message")) {
      message = TsMessage{context, {}, {}, {}};
    } else if (xml.name() == QLatin1String("source")) {
      message.source = xml.readElementText();
    } else if (xml.name() == QLatin1String("translation")) {
      message.type = xml.attributes().value(QLatin1String("type")).toString();
      // A plain translation is its text; a numerus one holds <numerusform> elements.
      QString text;
      while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isCharacters()) text += xml.text();
        if (xml.isStartElement() && xml.name() == QLatin1String("numerusform"))
          message.translations << xml.readElementText();
        if (xml.isEndElement() && xml.name() == QLatin1String("translation")) break;
      }
      if (message.translations.isEmpty()) message.translations << text;
      messages.push_back(message);
    }
  }
  EXPECT_FALSE(xml.hasError()) << path.toStdString() << ": " << xml.errorString().toStdString();
  return messages;
}

QStringList TsFiles() {
  QStringList files;
  for (const QString& name :
       QDir(kSourceDir + QStringLiteral("/translations"))
           .entryList({QStringLiteral("fendral_*.ts")}, QDir::Files, QDir::Name))
    files << kSourceDir + QStringLiteral("/translations/") + name;
  return files;
}

// Runs lupdate over the sources into a copy of `ts`, as the fendral_app_lupdate target
// does; answers the copy's path (empty when lupdate failed).
QString UpdatedCopy(const QString& ts, const QTemporaryDir& dir) {
  const QString copy = dir.filePath(QFileInfo(ts).fileName());
  if (!QFile::copy(ts, copy)) return {};
  QProcess lupdate;
  lupdate.setWorkingDirectory(kSourceDir);
  lupdate.start(
      QStringLiteral(FENDRAL_LUPDATE),
      {QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("app"),
       QStringLiteral("components"), QStringLiteral("framework"), QStringLiteral("-ts"), copy});
  if (!lupdate.waitForFinished(120000) || lupdate.exitCode() != 0) {
    ADD_FAILURE() << "lupdate failed: " << lupdate.readAllStandardError().toStdString();
    return {};
  }
  return copy;
}

// The texts of `messages` that lack a translation, or whose translation no source uses any
// more, one line each.
QStringList Untranslated(const std::vector<TsMessage>& messages) {
  QStringList lacking;
  for (const TsMessage& m : messages) {
    const bool empty = std::any_of(m.translations.begin(), m.translations.end(),
                                   [](const QString& t) { return t.isEmpty(); });
    if (!m.type.isEmpty() || empty)
      lacking << QStringLiteral("%1 [%2] \"%3\"")
                     .arg(m.context, m.type.isEmpty() ? QStringLiteral("empty") : m.type, m.source);
  }
  return lacking;
}

TEST(Translations, EveryTextOfTheSourcesIsTranslatedInEveryLanguage) {
  const QStringList files = TsFiles();
  ASSERT_GE(files.size(), 2) << "translations/fendral_de.ts and fendral_ru.ts expected";
  for (const QString& ts : files) {
    QTemporaryDir dir;
    const QString updated = UpdatedCopy(ts, dir);
    ASSERT_FALSE(updated.isEmpty()) << ts.toStdString();
    const std::vector<TsMessage> messages = ReadTs(updated);
    // Texts of the window the check must see: a menu, a navigator hint, a record-set message.
    QSet<QString> sources;
    for (const TsMessage& m : messages) sources.insert(m.source);
    EXPECT_TRUE(sources.contains(QStringLiteral("&File")));
    EXPECT_TRUE(sources.contains(QStringLiteral("First record")));
    EXPECT_TRUE(sources.contains(QStringLiteral("Record not found")));
    const QStringList lacking = Untranslated(messages);
    EXPECT_TRUE(lacking.isEmpty()) << QFileInfo(ts).fileName().toStdString()
                                   << " lacks translations (run the fendral_app_lupdate target "
                                      "and translate):\n"
                                   << lacking.join(QLatin1Char('\n')).toStdString();
  }
}

// The check above reports a text that a translation lacks: a source with a text of its own.
TEST(Translations, TheCheckListsANewTextWithoutTranslation) {
  QTemporaryDir dir;
  const QString ts = TsFiles().value(0);
  ASSERT_FALSE(ts.isEmpty());
  const QString copy = dir.filePath(QStringLiteral("copy.ts"));
  ASSERT_TRUE(QFile::copy(ts, copy));
  QFile source(dir.filePath(QStringLiteral("extra.cpp")));
  ASSERT_TRUE(source.open(QIODevice::WriteOnly));
  source.write(
      "#include <QCoreApplication>\n"
      "QString Extra() { return QCoreApplication::translate(\"Extra\", "
      "\"A text nobody translated\"); }\n");
  source.close();
  QProcess lupdate;
  lupdate.start(QStringLiteral(FENDRAL_LUPDATE),
                {QStringLiteral("-locations"), QStringLiteral("none"), source.fileName(),
                 QStringLiteral("-ts"), copy});
  ASSERT_TRUE(lupdate.waitForFinished(60000));
  const QStringList lacking = Untranslated(ReadTs(copy));
  // The new text is listed; the texts no longer in these sources are listed as vanished.
  EXPECT_TRUE(lacking.contains(QStringLiteral("Extra [unfinished] \"A text nobody translated\"")))
      << lacking.join(QLatin1Char('\n')).toStdString();
  EXPECT_GT(lacking.size(), 100);
}

// A translation keeps its source's placeholders (%1, %n), its accelerator (&) and the line
// breaks at its ends, so that the same arguments land in the same places.
TEST(Translations, TranslationsKeepPlaceholdersAcceleratorsAndLineBreaks) {
  static const QRegularExpression kPlaceholder(QStringLiteral("%(\\d+|n)"));
  auto placeholders = [](const QString& text) {
    QStringList found;
    for (auto it = kPlaceholder.globalMatch(text); it.hasNext();) found << it.next().captured();
    found.sort();
    return found;
  };
  auto hasAccelerator = [](const QString& text) {
    return QString(text).remove(QStringLiteral("&&")).contains(QLatin1Char('&'));
  };
  for (const QString& ts : TsFiles()) {
    const std::vector<TsMessage> messages = ReadTs(ts);
    ASSERT_GT(messages.size(), 100u) << ts.toStdString();
    for (const TsMessage& m : messages)
      for (const QString& t : m.translations) {
        const std::string where = QFileInfo(ts).fileName().toStdString() + ": \"" +
                                  m.source.toStdString() + "\" -> \"" + t.toStdString() + "\"";
        EXPECT_EQ(placeholders(t), placeholders(m.source)) << where;
        EXPECT_EQ(hasAccelerator(t), hasAccelerator(m.source)) << where;
        EXPECT_EQ(t.endsWith(QLatin1Char('\n')), m.source.endsWith(QLatin1Char('\n'))) << where;
        EXPECT_EQ(t.startsWith(QLatin1Char('\n')), m.source.startsWith(QLatin1Char('\n'))) << where;
      }
  }
}

// Removes the translators a test installed, so that the other tests stay in English.
class TranslatorGuard {
 public:
  ~TranslatorGuard() {
    for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(t);
      delete t;
    }
  }
};

TEST(Translations, TheWindowIsShownInTheLocalesLanguage) {
  {
    TranslatorGuard guard;
    ASSERT_TRUE(InstallTranslations(QLocale(QStringLiteral("ru_RU"))))
        << "no fendral_ru.qm in " << TranslationDirs().join(QLatin1Char(' ')).toStdString();
    TMainWindow window;
    QStringList menus;
    for (QAction* action : window.menuBar()->actions()) menus << action->text();
    EXPECT_TRUE(menus.contains(QStringLiteral("&Файл"))) << menus.join(' ').toStdString();
    EXPECT_TRUE(menus.contains(QStringLiteral("О программе..."))) << menus.join(' ').toStdString();
    // Logical values are shown in the user's words, and read back in them and in English.
    TBooleanField logical(QStringLiteral("ACTIVE"));
    EXPECT_EQ(logical.DisplayValues(), QStringLiteral("Да;Нет"));
  }
  {
    TranslatorGuard guard;
    ASSERT_TRUE(InstallTranslations(QLocale(QStringLiteral("de_DE"))));
    EXPECT_EQ(QCoreApplication::translate("Dataset", "Record not found"),
              QStringLiteral("Datensatz nicht gefunden"));
  }
  // English needs no translation, and none is left installed.
  EXPECT_FALSE(InstallTranslations(QLocale(QStringLiteral("en_US"))));
  TMainWindow window;
  EXPECT_EQ(window.menuBar()->actions().value(0)->text(), QStringLiteral("&File"));
}

// The screenshot program renders in the locale it is given, and refuses one it has no
// translation for rather than writing English pictures under that name.
TEST(Translations, TheScreenshotProgramRendersInTheGivenLocale) {
  test::TempDir out;
  test::TempDir tables;
  const std::string path = test::CopyTableFiles(test::SampleTable(), tables.Path());
  std::string log;
  ASSERT_EQ(test::RunCommand(std::string(FENDRAL_SCREENSHOTS) + " --locale ru '" + path + "' '" +
                                 out.Path().string() + "' 2>&1",
                             &log),
            0)
      << log;
  for (const char* name : {"browse-natural.png", "structure.png", "menus.png", "about.png"}) {
    const QImage image(QString::fromStdString((out.Path() / name).string()));
    EXPECT_FALSE(image.isNull()) << name;
  }
  EXPECT_NE(test::RunCommand(std::string(FENDRAL_SCREENSHOTS) + " --locale tlh '" + path + "' '" +
                                 out.Path().string() + "' 2>&1",
                             &log),
            0);
  EXPECT_NE(log.find("no translation for tlh"), std::string::npos) << log;
}

TEST(About, ShowsVersionLicenceEngineAndTheSettingsFile) {
  TAboutBox box;
  auto* text = box.findChild<QLabel*>(QStringLiteral("AboutText"));
  auto* settings = box.findChild<QLabel*>(QStringLiteral("AboutSettings"));
  ASSERT_TRUE(text && settings);
  EXPECT_TRUE(text->text().contains(QStringLiteral("Tolvern")));
  EXPECT_TRUE(text->text().contains(QStringLiteral("Version ") + QStringLiteral(FENDRAL_VERSION)))
      << text->text().toStdString();
  EXPECT_TRUE(text->text().contains(QStringLiteral("Licence: "))) << text->text().toStdString();
  const QString file = QSettings().fileName();
  ASSERT_FALSE(file.isEmpty());
  EXPECT_TRUE(settings->text().contains(file)) << settings->text().toStdString();
}

}  // namespace
}  // namespace fendral
