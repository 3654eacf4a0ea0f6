// The help window through its real widgets: the panel buttons, the pages kept across panel
// switches, the ways to close it and its pictures.
#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QSet>
#include <QTabWidget>
#include <QTest>

#include "help/help.h"

namespace corvel {
namespace {

QStringList TabTexts(const QTabWidget* tabs) {
    QStringList out;
    for (int i = 0; i < tabs->count(); ++i) out << tabs->tabText(i);
    return out;
}

// The panel the user sees.
QWidget* ShownPanel(const TfrmHelp& h) {
    QWidget* shown = nullptr;
    int count = 0;
    for (QWidget* p : {h.pnlAbaut, h.pnlFTDI, h.pnlRTS, h.pnlFiles}) {
        if (p->isVisibleTo(&h)) {
            shown = p;
            ++count;
        }
    }
    return count == 1 ? shown : nullptr;
}

// A drawing, not an empty canvas: several colours appear in it.
int DistinctColours(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage();
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) seen.insert(image.pixel(x, y));
    }
    return static_cast<int>(seen.size());
}

TEST(HelpWindow, OpensOnAboutPresentation) {
    TfrmHelp h;
    h.show();
    EXPECT_EQ(h.windowTitle(), "Ajuda");
    EXPECT_EQ(h.frameGeometry().width(), 872);
    EXPECT_EQ(h.minimumSize(), h.maximumSize());

    // Left to right as the row shows them, Exit at the right edge.
    const std::vector<std::pair<HelpPictureButton*, QString>> row = {{h.Button2, "About"},
                                                                     {h.Button3, "FTDI"},
                                                                     {h.Button1, "RTS/CTS"},
                                                                     {h.Button5, "File Sharing"},
                                                                     {h.Button4, "Exit"}};
    int lastX = -1;
    for (const auto& [button, caption] : row) {
        EXPECT_EQ(button->text(), caption);
        EXPECT_EQ(button->size(), QSize(102, 97));
        EXPECT_GT(button->x(), lastX);
        lastX = button->x();
    }
    EXPECT_EQ(h.Button4->geometry().right(), h.width() - 1);
    EXPECT_EQ(h.Button2->objectName(), "Button2");

    EXPECT_EQ(ShownPanel(h), h.pnlAbaut);
    EXPECT_EQ(TabTexts(h.pgCtrlAbaut),
              (QStringList{"Presentation", "Hidden Commands", "Improvements",
                           "Author and Development Environment"}));
    EXPECT_EQ(TabTexts(h.rgCtrlFTDI),
              (QStringList{"FTDI", "Step 1", "Step 2", "Step 3", "Step 4"}));
    EXPECT_EQ(TabTexts(h.pgCtrlRTS), (QStringList{"Introduction", "FTDI"}));
    EXPECT_EQ(TabTexts(h.pgCtrlFile), (QStringList{"Description"}));
    for (QTabWidget* tabs : {h.pgCtrlAbaut, h.rgCtrlFTDI, h.pgCtrlRTS, h.pgCtrlFile}) {
        EXPECT_EQ(tabs->currentIndex(), 0) << tabs->objectName().toStdString();
    }
    // Each page control fills the area under the button row.
    EXPECT_EQ(h.pgCtrlAbaut->width(), h.width());
    EXPECT_EQ(h.pnlAbaut->mapTo(&h, QPoint(0, 0)).y(), 97);
    EXPECT_EQ(h.pgCtrlAbaut->height(), h.height() - 97);
    for (QWidget* p : {h.pnlFTDI, h.pnlRTS, h.pnlFiles}) {
        EXPECT_EQ(p->geometry(), h.pnlAbaut->geometry()) << p->objectName().toStdString();
    }

    // A few of the exact texts, and the warnings drawn in the highlight colour.
    QStringList texts;
    for (QLabel* l : h.findChildren<QLabel*>()) texts << l->text();
    EXPECT_TRUE(texts.contains("n the properties select the advanced option:"));
    EXPECT_TRUE(texts.contains("3 - Send the desired file to the transmitter"));
    EXPECT_TRUE(texts.contains(QString::fromUtf8("Corvel — written by the Corvel developers")));
    for (QLabel* l : h.findChildren<QLabel*>()) {
        if (l->text().startsWith("If you use the RTS/ CTS flow control")) {
            EXPECT_TRUE(l->font().bold());
            EXPECT_EQ(l->palette().color(QPalette::WindowText),
                      h.palette().color(QPalette::Highlight));
        }
    }
}

TEST(HelpWindow, PanelButtonsShowOnlyTheirPanel) {
    TfrmHelp h;
    h.show();
    const std::vector<std::pair<HelpPictureButton*, QWidget*>> pairs = {
        {h.Button3, h.pnlFTDI},  {h.Button1, h.pnlRTS}, {h.Button5, h.pnlFiles},
        {h.Button2, h.pnlAbaut}, {h.Button1, h.pnlRTS}, {h.Button1, h.pnlRTS}};
    for (const auto& [button, panel] : pairs) {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(ShownPanel(h), panel) << button->objectName().toStdString();
        EXPECT_TRUE(h.isVisible());
    }
}

TEST(HelpWindow, PageChosenInAPanelIsKeptAcrossSwitches) {
    TfrmHelp h;
    h.show();
    QTest::mouseClick(h.Button3, Qt::LeftButton);
    h.rgCtrlFTDI->setCurrentIndex(3);  // "Step 3"
    h.pgCtrlAbaut->setCurrentIndex(2);
    QTest::mouseClick(h.Button2, Qt::LeftButton);
    EXPECT_EQ(h.pgCtrlAbaut->currentIndex(), 2);
    QTest::mouseClick(h.Button3, Qt::LeftButton);
    EXPECT_EQ(h.rgCtrlFTDI->tabText(h.rgCtrlFTDI->currentIndex()), "Step 3");
    EXPECT_EQ(ShownPanel(h), h.pnlFTDI);

    // Every opening starts afresh.
    ShowHelpWindow(nullptr, [](TfrmHelp& fresh) {
        EXPECT_EQ(fresh.rgCtrlFTDI->currentIndex(), 0);
        EXPECT_EQ(ShownPanel(fresh), fresh.pnlAbaut);
    });
}

TEST(HelpWindow, EscapeAndExitClose) {
    int runs = 0;
    ShowHelpWindow(nullptr, [&](TfrmHelp& h) {
        ++runs;
        h.show();
        QTest::mouseClick(h.Button3, Qt::LeftButton);
        QTest::keyClick(&h, Qt::Key_Escape);
        EXPECT_FALSE(h.isVisible());
    });
    ShowHelpWindow(nullptr, [&](TfrmHelp& h) {
        ++runs;
        h.show();
        QTest::mouseClick(h.Button4, Qt::LeftButton);
        EXPECT_FALSE(h.isVisible());
    });
    // The hook for window tests stands in for exec() when no function is passed.
    const auto previous = SetHelpModalRunForTests([&](TfrmHelp& h) {
        ++runs;
        EXPECT_EQ(h.windowTitle(), "Ajuda");
    });
    ShowHelpWindow(nullptr);
    SetHelpModalRunForTests(previous);
    EXPECT_EQ(runs, 3);
}

TEST(HelpWindow, PicturesLoad) {
    TfrmHelp h;
    for (HelpPictureButton* b : {h.Button1, h.Button2, h.Button3, h.Button4, h.Button5}) {
        EXPECT_FALSE(b->picture().isNull()) << b->objectName().toStdString();
        EXPECT_EQ(b->picture().size(), QSize(128, 64));
        EXPECT_FALSE(b->icon().isNull());
        EXPECT_GT(DistinctColours(b->picture()), 2) << b->objectName().toStdString();
    }
    QStringList pictures;
    for (QLabel* l : h.findChildren<QLabel*>()) {
        if (!l->objectName().startsWith("img_")) continue;
        pictures << l->objectName();
        EXPECT_FALSE(l->pixmap().isNull()) << l->objectName().toStdString();
        EXPECT_GT(DistinctColours(l->pixmap()), 2) << l->objectName().toStdString();
    }
    pictures.sort();
    EXPECT_EQ(pictures,
              (QStringList{"img_step1", "img_step2", "img_step3", "img_wiring", "img_workbench"}));
    EXPECT_TRUE(HelpPicture("no-such-picture", QSize(10, 10)).isNull());
}

}  // namespace
}  // namespace corvel
