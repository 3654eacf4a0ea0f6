// A send that the line holds off past the driver's output time-out says how much went out.

#include <QKeyEvent>
#include <QLineEdit>

#include "window_fixture.h"

namespace corvel {
namespace {

TEST_F(WindowTest, SendsHeldOffPastTheTimeOutSayHowMuchWentOut) {
    Open();
    ClickConnect("COM3", "9600");
    ASSERT_EQ(w->btnConnectTag, 1);
    w->cbxRTSCTS->setChecked(true);
    w->cbxSend->setChecked(false);

    // A line that moves logs nothing.
    w->edtSend->setText("AT");
    QTest::mouseClick(w->btnSend, Qt::LeftButton);
    EXPECT_EQ(Wire(), "AT");
    const std::size_t lines = Log().size();

    // Held off: the output queue takes what it has room for, then the send gives up.
    dev->SetCts(false);
    const int room = w->uartDriver->ComPortOutBufSize();
    w->edtSend->setText(QString(room + 100, 'x'));
    QTest::mouseClick(w->btnSend, Qt::LeftButton);
    ASSERT_EQ(Log().size(), lines + 1);
    EXPECT_EQ(Log().back().text,
              QString("Send timed out: %1 of %2 bytes sent").arg(room).arg(room + 100));
    EXPECT_EQ(Log().back().color, kYellow);

    // A typed key finds no room at all.
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, "a");
    QCoreApplication::sendEvent(w->memoUart, &press);
    ASSERT_EQ(Log().size(), lines + 2);
    EXPECT_EQ(Log().back().text, "Send timed out: 0 of 1 bytes sent");
    EXPECT_EQ(Log().back().color, kYellow);
}

}  // namespace
}  // namespace corvel
