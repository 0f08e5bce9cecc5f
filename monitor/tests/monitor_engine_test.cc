// The monitor against the real engine: a client root joined to the engine's share, a
// request listed with its columns, then a job handed over through the client core with the
// monitor told its answer name; the monitor shows the engine's own answer and removes the
// copy when the popup closes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <filesystem>

#include "client/answer.h"
#include "client/client_doc.h"
#include "client/config.h"
#include "client/handover.h"
#include "client/request_file.h"
#include "engine/hevrasto/server_setup.h"
#include "engine/hevrasto/tests/engine_harness.h"
#include "monitor/welmoric/monitor_window.h"
#include "platform/fs/files.h"
#include "platform/testing/qt_app.h"
#include "platform/testing/temp_root.h"
#include "platform/winmsg/qt/qt_pump.h"

namespace zv::monitor {
namespace {

namespace fsys = std::filesystem;
using engine::testing::EngineHarness;

// Points this process at a runtime root for the life of the object.
struct UseRoot {
  explicit UseRoot(const std::string& root) : old(getenv("ZELVORA_ROOT")) { setenv("ZELVORA_ROOT", root.c_str(), 1); }
  ~UseRoot() { setenv("ZELVORA_ROOT", old.c_str(), 1); }
  std::string old;
};

TEST(WelmoricEngine, ShowsTheEnginesAnswer) {
  zv::testing::QtApp();
  zv::testing::TempRoot root;  // the engine's
  EngineHarness h(root, 0);
  h.Sql("UPDATE Main SET MaxPages=0, MaxPages_Color=0 WHERE Account='alice'");
  zv::testing::TempRoot client_root;  // now this process's root
  ASSERT_TRUE(client::JoinServer(h.share(), "SRV", "share", client_root.str() + "/app").ok());
  winmsg::QtMessagePump pump;
  CMainFrame w(nullptr);
  ASSERT_TRUE(w.ok());
  w.ShowMonitor();  // offscreen there is no tray: the list opens as a second start opens it

  // A request as the client writes it is listed with its columns.
  client::RequestOrder order;
  order.account = "alice";
  order.machine = "pc1";
  order.job_file = "pc10.prc";
  order.jobs = {{"見積書.pdf", 3}};
  order.device = "Office";
  order.paper = 9;
  order.thumbnail = 1;
  order.copies = 2;
  ASSERT_TRUE(fs::WriteFileAtomic(h.print_info() + "/order05.lst", client::ComposeRequestText(order)).ok());
  w.RefreshList();
  w.WaitIdle();
  ASSERT_EQ(w.view()->rowCount(), 1);
  QStringList cells;
  for (int c = 1; c < kColumnCount; ++c) cells << w.view()->item(0, c)->text();
  EXPECT_EQ(cells, (QStringList{QString::fromUtf8("見積書.pdf"), "alice", "Office", "3", "A4",
                                QString::fromUtf8("2分割"), "2"}));
  ASSERT_EQ(::unlink((h.print_info() + "/order05.lst").c_str()), 0);

  {
    UseRoot engine_root(root.str());
    h.StartEngine({"ZELVORA_ROOT=" + root.str()});
  }
  auto config = client::LoadClientConfig();
  ASSERT_TRUE(config.ok());
  config->account = "alice";
  config->machine = "pc1";
  const std::string job = client_root.str() + "/job.prc";
  ASSERT_TRUE(engine::WriteSampleJob(job, 1).ok());
  client::RecordingPrompt prompt;
  client::COstraneDoc doc;
  ASSERT_TRUE(doc.OnOpenDocument(job, "", &prompt));
  auto packed = doc.EncodePacked();
  ASSERT_TRUE(packed.ok());
  client::RequestOrder send;
  send.device = "Office";
  send.paper = -1;
  send.jobs = {{"monitor-e2e", doc.GetAllPage()}};
  client::HandOverResult r = client::SendRequest(*config, *packed, send, &prompt);
  ASSERT_EQ(r.outcome, client::HandOverResult::kHandedOver) << r.error;
  ASSERT_TRUE(client::NotifyMonitor(r.answer_copy, &prompt).ok());
  ASSERT_EQ(w.queue().size(), 1u);

  QElapsedTimer t;
  t.start();
  std::vector<ResultPopup*> popups;
  while (popups.empty() && t.elapsed() < 60000) {
    w.OnTimer();
    w.WaitIdle();
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* p = dynamic_cast<ResultPopup*>(top); p && p->isVisible()) popups.push_back(p);
    if (popups.empty()) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  }
  ASSERT_EQ(popups.size(), 1u) << "no answer shown for " << r.answer_copy;
  const std::string copy = *config->ResultFolder() + "/" + r.answer_copy;
  auto answer = client::ReadAnswerFile(copy, {});
  ASSERT_TRUE(answer.ok());
  EXPECT_EQ(answer->code, 0);
  EXPECT_EQ(popups[0]->windowTitle().toStdString(), answer->title);
  std::string shown = popups[0]->findChild<QLabel*>("1003")->text().toStdString();
  EXPECT_EQ(shown, answer->message);  // the answer reader joins lines with "\n" as the popup does
  popups[0]->findChild<QPushButton*>("1")->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(fsys::exists(copy));

  UseRoot engine_root(root.str());
  EXPECT_EQ(h.StopEngine(), 0);
}

}  // namespace
}  // namespace zv::monitor
