#include "tv_about.h"

#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "fendral_version.h"

#ifndef FENDRAL_LICENSE
#define FENDRAL_LICENSE ""
#endif

namespace fendral {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(tr("About"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(tr("<b>Fendral</b><br>Browsing, editing and maintaining xBase tables"
                             "<br>Table engine: Tolvern")
                              .append(QStringLiteral("<br><br>"))
                              .append(tr("Version %1").arg(QStringLiteral(FENDRAL_VERSION)))
                              .append(QStringLiteral("<br>"))
                              .append(QStringLiteral(FENDRAL_LICENSE).isEmpty()
                                          ? tr("Licence: not chosen yet")
                                          : tr("Licence: %1").arg(QStringLiteral(FENDRAL_LICENSE))),
                          this);
  text->setObjectName(QStringLiteral("AboutText"));
  text->setTextFormat(Qt::RichText);
  text->setAlignment(Qt::AlignCenter);
  layout->addWidget(text);
  // Where the window keeps what it remembers (recent tables, code pages, folders): a plain
  // path, so that it can be selected and copied.
  auto* settings = new QLabel(tr("Settings are kept in %1").arg(QSettings().fileName()), this);
  settings->setObjectName(QStringLiteral("AboutSettings"));
  settings->setTextFormat(Qt::PlainText);
  settings->setTextInteractionFlags(Qt::TextSelectableByMouse);
  settings->setAlignment(Qt::AlignCenter);
  settings->setWordWrap(true);
  layout->addWidget(settings);
  auto* ok = new QPushButton(tr("Ok"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignHCenter);
}

}  // namespace fendral
