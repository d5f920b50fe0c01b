#include "tv_about.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace fendral {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(tr("About"));
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(tr("<b>Fendral</b><br>Browsing, editing and maintaining xBase tables"
                             "<br>Table engine: Tolvern"),
                          this);
  text->setTextFormat(Qt::RichText);
  text->setAlignment(Qt::AlignCenter);
  layout->addWidget(text);
  auto* ok = new QPushButton(tr("Ok"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignHCenter);
}

}  // namespace fendral
