// The general error display: an error inside a pass is shown once per pass and the loop goes on.
#include "app/ErrorDisplay.h"
#include "WindowFixture.h"

#include <QTabWidget>
#include <QTimer>
#include <QTimerEvent>
#include <stdexcept>

namespace {

class FailingForm : public TForm1 {
  public:
    using TForm1::TForm1;

  protected:
    void analyseAndRender() override { throw std::runtime_error("Could not add frame"); }
};

// One tick of Timer2, delivered through the application as the event loop would.
void tick(QTimer* timer) {
    QTimerEvent event(timer->timerId());
    QCoreApplication::sendEvent(timer, &event);
}

TEST_F(WindowTest, AnErrorInAPassIsShownAndTheLoopGoesOn) {
    makeForm<FailingForm>(workedExampleFrame());
    measurementState().LivePaused = 0;
    ASSERT_TRUE(ui().Timer2->isActive());
    tick(ui().Timer2);
    EXPECT_EQ(dialogs.messages, QStringList{"Could not add frame"});
    EXPECT_TRUE(ui().Timer2->isActive());
    tick(ui().Timer2);
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(ui().Timer2->isActive());
}

TEST_F(WindowTest, AnErrorInThePassOfThePageShowIsShownAndThePageStays) {
    makeForm<FailingForm>(workedExampleFrame());
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QCoreApplication::processEvents();
    dialogs.messages.clear();
    ui().PageControl1->setCurrentWidget(ui().TabSheet2);
    ui().PageControl1->setCurrentWidget(ui().TabSheet1);
    EXPECT_EQ(dialogs.messages, QStringList{"Could not add frame"});
    EXPECT_TRUE(ui().TabSheet1->isVisible());
    EXPECT_TRUE(ui().Timer2->isActive());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    KestraneApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
