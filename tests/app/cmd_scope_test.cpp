// Clean-up at the end of a scope: it always runs, and an exception it throws is logged and
// goes no further, also while another error unwinds the scope.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <stdexcept>

#include "tv_scopeexit.h"

namespace fendral {
namespace {

QStringList* logged = nullptr;

void Record(QtMsgType, const QMessageLogContext& context, const QString& text) {
  if (logged) logged->append(QString::fromUtf8(context.category) + ": " + text);
}

class Logged {
 public:
  Logged() {
    logged = &lines;
    previous_ = qInstallMessageHandler(Record);
  }
  ~Logged() {
    qInstallMessageHandler(previous_);
    logged = nullptr;
  }
  QStringList lines;

 private:
  QtMessageHandler previous_;
};

TEST(ScopeExit, RunsOnEveryWayOutAndNotWhenReleased) {
  int runs = 0;
  {
    ScopeExit done([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  try {
    ScopeExit done([&] { ++runs; });
    throw std::runtime_error("work failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(runs, 2);
  {
    ScopeExit done([&] { ++runs; });
    done.Release();
  }
  EXPECT_EQ(runs, 2);
}

TEST(ScopeExit, AFailingCleanUpIsLoggedAndTheFirstErrorIsTheOneSeen) {
  Logged log;
  EXPECT_NO_THROW({ ScopeExit done([] { throw std::runtime_error("cannot close"); }); });
  ASSERT_EQ(log.lines.size(), 1);
  EXPECT_TRUE(log.lines[0].startsWith(QStringLiteral("fendral: ")));
  EXPECT_TRUE(log.lines[0].contains(QStringLiteral("cannot close")));

  // While the work's own error unwinds, a throwing clean-up would end the program.
  try {
    ScopeExit done([] { throw std::runtime_error("cannot close either"); });
    throw std::runtime_error("work failed");
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "work failed");
  }
  ASSERT_EQ(log.lines.size(), 2);
  EXPECT_TRUE(log.lines[1].contains(QStringLiteral("cannot close either")));
}

}  // namespace
}  // namespace fendral
