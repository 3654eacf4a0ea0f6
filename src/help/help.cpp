#include "help/help.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QVBoxLayout>
#include <utility>

// Resources of a static library are registered by hand, from the global namespace.
static void InitHelpResources() {
    Q_INIT_RESOURCE(help);
}

namespace corvel {
namespace {

constexpr int kOuterWidth = 872;
constexpr int kHeight = 640;
constexpr int kButtonRowHeight = 97;
constexpr QSize kButtonSize(102, 97);
constexpr QSize kButtonPicture(128, 64);

std::function<void(TfrmHelp&)>& TestModalRun() {
    static std::function<void(TfrmHelp&)> run;
    return run;
}

QFont PageFont(bool bold) {
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(12);
    f.setBold(bold);
    return f;
}

// One tab page: a scrolling column of texts and pictures.
QVBoxLayout* AddPage(QTabWidget* tabs, const QString& caption, const char* name) {
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QString::fromLatin1(name));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* body = new QWidget;
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(16, 12, 16, 12);
    column->setSpacing(10);
    scroll->setWidget(body);
    tabs->addTab(scroll, caption);
    return column;
}

enum class Look { Plain, Bold, Highlight };

QLabel* AddText(QVBoxLayout* column, const QString& text, Look look = Look::Plain) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setFont(PageFont(look != Look::Plain));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (look == Look::Highlight) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, label->palette().color(QPalette::Highlight));
        label->setPalette(p);
    }
    column->addWidget(label);
    return label;
}

QLabel* AddPicture(QVBoxLayout* column, const char* picture, QSize size) {
    auto* label = new QLabel;
    label->setObjectName(QStringLiteral("img_") + QString::fromLatin1(picture));
    label->setPixmap(HelpPicture(QString::fromLatin1(picture), size));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    column->addWidget(label);
    return label;
}

// The area under the button row. Every panel covers all of it, shown or hidden, so switching
// panels is only a matter of visibility and never waits for a new layout.
class PanelArea : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            child->setGeometry(rect());
        }
    }
};

QTabWidget* AddPanel(PanelArea* area, const char* panelName, const char* tabsName,
                     QWidget*& panel) {
    panel = new QWidget(area);
    panel->setObjectName(QString::fromLatin1(panelName));
    auto* fill = new QVBoxLayout(panel);
    fill->setContentsMargins(0, 0, 0, 0);
    auto* tabs = new QTabWidget;
    tabs->setObjectName(QString::fromLatin1(tabsName));
    fill->addWidget(tabs);
    panel->setGeometry(area->rect());
    return tabs;
}

}  // namespace

QPixmap HelpPicture(const QString& name, QSize size) {
    static const bool registered = (InitHelpResources(), true);
    (void)registered;
    QSvgRenderer renderer(QStringLiteral(":/help/pictures/") + name + QStringLiteral(".svg"));
    if (!renderer.isValid() || size.isEmpty()) return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

HelpPictureButton::HelpPictureButton(const QString& caption, const QPixmap& picture,
                                     QWidget* parent)
    : QPushButton(caption, parent), picture_(picture) {
    setFixedSize(kButtonSize);
    setIcon(QIcon(picture_));
    setAutoDefault(false);
}

void HelpPictureButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option);

    const QRect inside = rect().adjusted(3, 3, -3, -3);
    const int captionHeight = fontMetrics().height() + 4;
    painter.drawText(QRect(inside.left(), inside.top(), inside.width(), captionHeight),
                     Qt::AlignCenter, text());
    // The picture keeps its shape in the space left under the caption.
    const QRect below(inside.left(), inside.top() + captionHeight, inside.width(),
                      inside.height() - captionHeight);
    const QPixmap scaled =
        picture_.scaled(below.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QPoint at(below.left() + (below.width() - scaled.width()) / 2,
                    below.top() + (below.height() - scaled.height()) / 2);
    painter.drawPixmap(at, scaled);
}

TfrmHelp::TfrmHelp(QWidget* parent) : QDialog(parent) {
    setObjectName("frmHelp");
    setWindowTitle("Ajuda");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* row = new QWidget;
    row->setObjectName("pnlButtons");
    row->setFixedHeight(kButtonRowHeight);
    auto* buttons = new QHBoxLayout(row);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(0);
    auto makeButton = [&](const char* name, const char* caption, const char* picture) {
        auto* b = new HelpPictureButton(QString::fromLatin1(caption),
                                        HelpPicture(QString::fromLatin1(picture), kButtonPicture));
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    Button2 = makeButton("Button2", "About", "about");
    Button3 = makeButton("Button3", "FTDI", "ftdi");
    Button1 = makeButton("Button1", "RTS/CTS", "rtscts");
    Button5 = makeButton("Button5", "File Sharing", "files");
    Button4 = makeButton("Button4", "Exit", "exit");
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    buttons->addWidget(Button1);
    buttons->addWidget(Button5);
    buttons->addStretch(1);
    buttons->addWidget(Button4);
    root->addWidget(row);

    auto* area = new PanelArea;
    area->setObjectName("pnlArea");
    root->addWidget(area, 1);

    // About.
    pgCtrlAbaut = AddPanel(area, "pnlAbaut", "pgCtrlAbaut", pnlAbaut);
    {
        QVBoxLayout* p = AddPage(pgCtrlAbaut, "Presentation", "tsPresentation");
        AddText(p,
                "This terminal was specially developed to communicate with the embedded systems "
                "via UARTs ports, with or without the use of an FTDI. We refer FTDI to an "
                "integrated circuit, developed by the company FTDI, which creates a UART port "
                "via USB from the PC.");
        AddText(p, "Drivers and documentation for the adapter: see the chip maker's web site.",
                Look::Bold);
        p->addStretch(1);

        p = AddPage(pgCtrlAbaut, "Hidden Commands", "tsHiddenCommands");
        AddText(p,
                "Most commands and controls are intuitive, but you need to show some hidden "
                "commands:");
        AddText(p, "1 - Double-click on the UART command entry and exit window to clear them;");
        AddText(p,
                "2 - There are hidden menus in the input and output window of UART, LOG, clock "
                "and command list commands. To access them right-click on these components.");
        p->addStretch(1);

        p = AddPage(pgCtrlAbaut, "Improvements", "tsImprovements");
        AddText(p,
                "1 - A faster receive window: the rich-text box is too slow to render terminal "
                "control sequences of the VT100 kind, and it becomes slower still when its font "
                "or colours are changed;");
        AddText(p,
                "2 - The lock-up with RTS/CTS flow control when the other end is switched off "
                "(no CTS): the serial driver switches the write time-outs off, so a blocked "
                "write never returns.");
        p->addStretch(1);

        p = AddPage(pgCtrlAbaut, "Author and Development Environment", "tsAuthor");
        AddText(p, QString::fromUtf8("Corvel — written by the Corvel developers"), Look::Bold);
        AddText(p, "Built with Qt 6 and C++20");
        AddPicture(p, "workbench", QSize(600, 340));
        p->addStretch(1);
    }

    // FTDI.
    rgCtrlFTDI = AddPanel(area, "pnlFTDI", "rgCtrlFTDI", pnlFTDI);
    {
        QVBoxLayout* p = AddPage(rgCtrlFTDI, "FTDI", "tsFTDI");
        AddText(p,
                "FTDI provides UART emulation with a speed greater than 115200 Kbps compared to "
                "native UART ports on the PC, reaching rates of 3Mbps. Here we will show you how "
                "to configure FTDI to emulate the desired COM number and improve the performance "
                "of this communication.");
        p->addStretch(1);

        p = AddPage(rgCtrlFTDI, "Step 1", "tsStep1");
        AddText(p,
                "Open the device manager and select the emulated COM port and open its "
                "properties:");
        AddPicture(p, "step1", QSize(600, 330));
        p->addStretch(1);

        p = AddPage(rgCtrlFTDI, "Step 2", "tsStep2");
        AddText(p, "n the properties select the advanced option:");
        AddPicture(p, "step2", QSize(600, 380));
        p->addStretch(1);

        p = AddPage(rgCtrlFTDI, "Step 3", "tsStep3");
        AddText(p, "Configure the following parameters:");
        AddText(p, "- COM port Number: Select the port number to be emulated by FTDI;");
        AddText(p,
                "- USB transfer Sizes: Select the maximum buffer size for both reception and "
                "transmission;");
        AddText(p, "- BM Options: Select the minimum USB latency on the FTDI device.");
        AddPicture(p, "step3", QSize(600, 380));
        p->addStretch(1);

        p = AddPage(rgCtrlFTDI, "Step 4", "tsStep4");
        AddText(p,
                "After adjusting the parameters click OK. For the changes to take effect, "
                "disconnect and physically connect the FTDI from the USB bus.");
        p->addStretch(1);
    }

    // RTS/CTS.
    pgCtrlRTS = AddPanel(area, "pnlRTS", "pgCtrlRTS", pnlRTS);
    {
        QVBoxLayout* p = AddPage(pgCtrlRTS, "Introduction", "tsRtsIntroduction");
        AddText(p,
                "The RTS # (Request to Send) signal signals whether or not the device is ready to "
                "receive data. If the RTS # signal is 0, it signals that the device is able to "
                "receive more data.");
        AddText(p,
                "The device should raise the RST# signal by a few bytes before it pops its "
                "receive buffer to give the transmitter time to pause the transfer.");
        AddText(p,
                "The CTS # (Clear to Sendo) signal checks whether or not the external device can "
                "accept more data. When CTS # is 0, it indicates that the external device can "
                "receive more data.");
        AddText(p, "Therefore the physical connection between devices should be:");
        AddPicture(p, "wiring", QSize(560, 220));
        AddText(p,
                "If you use the RTS/ CTS flow control, the terminal may lock during data "
                "transmission if the other end of the communication is switched off as it will "
                "not respond to the transmitter's RTS request.",
                Look::Highlight);
        p->addStretch(1);

        p = AddPage(pgCtrlRTS, "FTDI", "tsRtsFTDI");
        AddText(p,
                "When you open the COM port with flow control, the FTDI driver already "
                "automatically configures for this function. The behavior of the RST and CTS "
                "pins is:");
        AddText(p,
                "- The FTDI stops sending data from 0 to 3 bytes after receiving a RTS # = 1 from "
                "the receiver;");
        AddText(
            p, "- FTDI raises its #RTS pin when there is less than 32 bytes of space in its FIFO.");
        p->addStretch(1);
    }

    // File transfers.
    pgCtrlFile = AddPanel(area, "pnlFiles", "pgCtrlFile", pnlFiles);
    {
        QVBoxLayout* p = AddPage(pgCtrlFile, "Description", "tsDescription");
        AddText(p, "File Transfer Procedure", Look::Bold);
        AddText(p, "1 - Set whether to use some kind of communication protocol for file transfer:");
        AddText(p,
                "a - If you are using the Kmodem protocol, make sure that the settings between "
                "the receiver and the transmitter are compatible;");
        AddText(p,
                "b - If the RTS / CTS flow control is used, the terminal may lock during the "
                "sending of the data if the other end of the communication is switched off as it "
                "will not respond to the RTS request of the transmitter.",
                Look::Highlight);
        AddText(p, "2 - Prepare the recipient to receive the file;");
        AddText(p, "3 - Send the desired file to the transmitter");
        p->addStretch(1);
    }

    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });

    FormCreate();
}

void TfrmHelp::FormCreate() {
    setFixedSize(kOuterWidth, kHeight);
    for (QTabWidget* tabs : {pgCtrlAbaut, rgCtrlFTDI, pgCtrlRTS, pgCtrlFile}) {
        tabs->setCurrentIndex(0);
    }
    ShowPanel(pnlAbaut);
}

void TfrmHelp::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (centred_) return;
    centred_ = true;
    // The outer width counts the frame; once the window system has framed the window, take the
    // frame out of the client width.
    const int frame = frameGeometry().width() - geometry().width();
    if (frame > 0 && frame < kOuterWidth / 2) setFixedWidth(kOuterWidth - frame);
    if (const QScreen* screen =
            this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

void TfrmHelp::ShowPanel(QWidget* panel) {
    for (QWidget* p : {pnlAbaut, pnlFTDI, pnlRTS, pnlFiles}) p->setVisible(p == panel);
}

void TfrmHelp::Button2Click() {
    ShowPanel(pnlAbaut);
}
void TfrmHelp::Button3Click() {
    ShowPanel(pnlFTDI);
}
void TfrmHelp::Button1Click() {
    ShowPanel(pnlRTS);
}
void TfrmHelp::Button5Click() {
    ShowPanel(pnlFiles);
}
void TfrmHelp::Button4Click() {
    close();
}

std::function<void(TfrmHelp&)> SetHelpModalRunForTests(std::function<void(TfrmHelp&)> run) {
    return std::exchange(TestModalRun(), std::move(run));
}

void ShowHelpWindow(QWidget* parent, const std::function<void(TfrmHelp&)>& modal) {
    TfrmHelp help(parent);
    const std::function<void(TfrmHelp&)>& run = modal ? modal : TestModalRun();
    if (run) {
        run(help);
    } else {
        help.exec();
    }
}

}  // namespace corvel
