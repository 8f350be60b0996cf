#include "Ambulon.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibrary>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTextDocument>
#include <QUdpSocket>
#include <QVBoxLayout>
#include <QVariant>

#include <iostream>

namespace {

const char* const networkErrorTitle = "Network Error";

// Nothing reads a direct socket, so Qt would buffer whatever a controller sends
// without end. Once this much waits, Qt stops reading and TCP's own flow control
// holds the controller back.
constexpr qint64 socketReadBufferBytes = 64 * 1024;

// Non-blocking on purpose: the operator can still read the page behind the box.
void showWarning(QWidget* parent, const QString& title, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent,
                                Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void applyLabelFont(QFont& font, QWidget* widget)
{
    font.setFamily(QStringLiteral("Times"));
    font.setWeight(QFont::Bold);
    font.setPointSize(12);
    widget->setFont(font);
}

void setMinimumFixedPolicy(QWidget* widget)
{
    widget->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
}

void fixSize(QWidget* widget, int width, int height)
{
    setMinimumFixedPolicy(widget);
    widget->setFixedSize(width, height);
}

// Host and port fields read like one-line fields. A tab is never part of a host
// name or a port, so Tab moves on; and a long pasted text scrolls instead of
// wrapping, which would freeze the window for minutes laying out a large paste.
// The typed line shows whole: the text's margin is kept small, so that a line
// of a usual interface font (up to 24 pixels) fits the 30-pixel height, and no
// scroll bar takes room from it.
void makeEndpointField(QPlainTextEdit* field)
{
    fixSize(field, 200, 30);
    field->setTabChangesFocus(true);
    field->setLineWrapMode(QPlainTextEdit::NoWrap);
    field->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field->document()->setDocumentMargin(2);
}

QString unitSuffix()
{
    return QString::fromUtf8("  m/s\xc2\xb2");
}

// Ties a label to the control it names, so that a screen reader announces the
// control by the label's words ("Host", not "editable text").
void nameAfterLabel(QLabel* label, QWidget* control)
{
    label->setBuddy(control);
    QString name = label->text().trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    control->setAccessibleName(name);
}

// A label of the mirroring group: only its height is fixed, so that it keeps its
// text's width whatever the font and the display scale.
QLabel* makeMirrorLabel(QFont& font, const char* text)
{
    auto* label = new QLabel();
    applyLabelFont(font, label);
    label->setText(QString::fromLatin1(text));
    setMinimumFixedPolicy(label);
    label->setFixedHeight(40);
    return label;
}

QDoubleSpinBox* makeMirrorSpinBox(QFont& font, double minimum, double maximum)
{
    auto* box = new QDoubleSpinBox();
    box->setSuffix(unitSuffix());
    box->setRange(minimum, maximum);
    applyLabelFont(font, box);
    fixSize(box, 160, 40);
    return box;
}

} // namespace

void enableDisplayScaling()
{
    // The window gives most controls fixed pixel sizes. Without Qt's own scaling a
    // high-density display enlarges the text but not the controls, which cut it.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    // 150% stays 150%: rounding would make it 200% (too large) or 100% (cut
    // text again). Text is drawn at the display's own resolution, so a
    // fractional factor does not blur it.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
}

Ambulon::Ambulon(QWidget* /*parent*/, Qt::WindowFlags /*flags*/)
    : QMainWindow(nullptr, Qt::WindowFlags()), centralArea(new QWidget())
{
    // Only the program's own folder is searched: a library planted in whatever
    // directory the operator starts from must never run inside the panel.
    QLibrary library(QCoreApplication::applicationDirPath() + QStringLiteral("/velorun"));
    initializeFn = reinterpret_cast<InitializeFunction>(library.resolve("VELORUN_initialize"));
    initializeUdpFn =
        reinterpret_cast<InitializeFunction>(library.resolve("VELORUN_initializeUDP"));
    setSpeedFn = library.resolve("VELORUN_setSpeed");
    setSpeed4Fn = library.resolve("VELORUN_setSpeed4");
    closeFn = library.resolve("VELORUN_close");

    setCentralWidget(centralArea);
    mainLayout = new QVBoxLayout();
    centralArea->setLayout(mainLayout);

    createFileMenu();
    createTabWidget();
    createNetworkTab();
    populateNetworkTab();
    createTreadmillPerturbationTab();
    populateTreadmillPerturbationTab();
}

Ambulon::~Ambulon()
{
    delete socket;
}

void Ambulon::createFileMenu()
{
    fileMenuBar = new QMenuBar();
    fileMenu = new QMenu(fileMenuBar);
    fileMenu->setObjectName(QStringLiteral("menuFile"));
    fileMenu->setTitle(QCoreApplication::translate("Ambulon", "File"));
    // Owned by the menu, so that a destroyed window leaves no action behind.
    exitAction = new QAction(fileMenu);
    fileMenu->addAction(exitAction);
    exitAction->setText(QStringLiteral("Exit"));
    fileMenuBar->addMenu(fileMenu);
    connect(exitAction, SIGNAL(triggered()), this, SLOT(close()));
    mainLayout->setMenuBar(fileMenuBar);
}

void Ambulon::createTabWidget()
{
    tabWidget = new QTabWidget();
    mainLayout->addWidget(tabWidget, 0, Qt::Alignment());
}

void Ambulon::createNetworkTab()
{
    networkTab = new QWidget();
    setMinimumFixedPolicy(networkTab);
    networkTabLayout = new QVBoxLayout();
    networkTab->setObjectName(QStringLiteral("NetworkTab"));
    networkTab->setLayout(networkTabLayout);
    tabWidget->addTab(networkTab, QString());
    tabWidget->setTabText(tabWidget->indexOf(networkTab),
                          QCoreApplication::translate("Ambulon", "Network"));
}

void Ambulon::populateNetworkTab()
{
    hostLabel = new QLabel();
    applyLabelFont(hostLabelFont, hostLabel);
    hostLabel->setText(QStringLiteral("Host: "));
    fixSize(hostLabel, 50, 40);
    hostEdit = new QPlainTextEdit();
    makeEndpointField(hostEdit);
    portLabel = new QLabel();
    applyLabelFont(portLabelFont, portLabel);
    portLabel->setText(QStringLiteral("Port: "));
    fixSize(portLabel, 50, 40);
    portEdit = new QPlainTextEdit();
    makeEndpointField(portEdit);

    connectionGroup = new QGroupBox();
    setMinimumFixedPolicy(connectionGroup);
    connectionGroupLayout = new QVBoxLayout();
    connectionGroup->setLayout(connectionGroupLayout);
    networkTabLayout->addWidget(connectionGroup, 0, Qt::Alignment());

    libraryLabel = new QLabel();
    applyLabelFont(libraryLabelFont, libraryLabel);
    libraryLabel->setText(QStringLiteral("Use Treadmill Library"));
    fixSize(libraryLabel, 300, 40);
    libraryGroup = new QGroupBox();
    setMinimumFixedPolicy(libraryGroup);
    libraryGroupLayout = new QHBoxLayout();
    libraryGroup->setLayout(libraryGroupLayout);
    libraryCheckBox = new QCheckBox();
    libraryCheckBox->setFixedSize(50, 50);
    libraryGroupLayout->addWidget(libraryLabel, 0, Qt::Alignment());
    libraryGroupLayout->addWidget(libraryCheckBox, 0, Qt::Alignment());

    endpointGroup = new QGroupBox();
    setMinimumFixedPolicy(endpointGroup);
    endpointGroupLayout = new QHBoxLayout();
    endpointGroup->setLayout(endpointGroupLayout);

    tcpLabel = new QLabel();
    applyLabelFont(tcpLabelFont, tcpLabel);
    tcpLabel->setText(QStringLiteral("TCP: "));
    fixSize(tcpLabel, 50, 40);
    udpLabel = new QLabel();
    applyLabelFont(udpLabelFont, udpLabel);
    udpLabel->setText(QStringLiteral("UDP: "));
    fixSize(udpLabel, 50, 40);
    tcpRadio = new QRadioButton();
    udpRadio = new QRadioButton();
    transportGroup = new QGroupBox();
    setMinimumFixedPolicy(transportGroup);
    transportGroupLayout = new QHBoxLayout();
    transportGroup->setLayout(transportGroupLayout);
    transportGroupLayout->addWidget(tcpLabel, 0, Qt::Alignment());
    transportGroupLayout->addWidget(tcpRadio, 0, Qt::Alignment());
    transportGroupLayout->addWidget(udpLabel, 0, Qt::Alignment());
    transportGroupLayout->addWidget(udpRadio, 0, Qt::Alignment());

    connectButtonsGroup = new QGroupBox();
    setMinimumFixedPolicy(connectButtonsGroup);
    connectButtonsLayout = new QHBoxLayout();
    connectButtonsGroup->setLayout(connectButtonsLayout);

    connectionGroupLayout->addWidget(libraryGroup, 0, Qt::Alignment());
    connectionGroupLayout->addWidget(endpointGroup, 0, Qt::Alignment());
    connectionGroupLayout->addWidget(transportGroup, 0, Qt::Alignment());
    connectionGroupLayout->addWidget(connectButtonsGroup, 0, Qt::Alignment());

    endpointGroupLayout->addWidget(hostLabel, 0, Qt::Alignment());
    endpointGroupLayout->addWidget(hostEdit, 0, Qt::Alignment());
    endpointGroupLayout->addWidget(portLabel, 0, Qt::Alignment());
    endpointGroupLayout->addWidget(portEdit, 0, Qt::Alignment());

    connectButton = new QPushButton();
    connectButton->setText(QStringLiteral("Connect"));
    fixSize(connectButton, 200, 40);
    connectButtonsLayout->addWidget(connectButton, 0, Qt::Alignment());
    disconnectButton = new QPushButton();
    disconnectButton->setText(QStringLiteral("Disconnect"));
    fixSize(disconnectButton, 200, 40);
    connectButtonsLayout->addWidget(disconnectButton, 0, Qt::Alignment());

    connect(connectButton, SIGNAL(clicked()), this, SLOT(onClickConnect()));

    nameAfterLabel(libraryLabel, libraryCheckBox);
    nameAfterLabel(hostLabel, hostEdit);
    nameAfterLabel(portLabel, portEdit);
    nameAfterLabel(tcpLabel, tcpRadio);
    nameAfterLabel(udpLabel, udpRadio);
    // Top to bottom as the page reads. The radio buttons make one stop: once one
    // has had focus, Qt takes the other out of the Tab chain; arrows move between them.
    setTabOrder(libraryCheckBox, hostEdit);
    setTabOrder(hostEdit, portEdit);
    setTabOrder(portEdit, tcpRadio);
    setTabOrder(tcpRadio, udpRadio);
    setTabOrder(udpRadio, connectButton);
    setTabOrder(connectButton, disconnectButton);
}

void Ambulon::createTreadmillPerturbationTab()
{
    perturbationTab = new QWidget();
    setMinimumFixedPolicy(perturbationTab);
    perturbationTabLayout = new QGridLayout();
    perturbationTab->setObjectName(QStringLiteral("PerturbationTab"));
    perturbationTab->setLayout(perturbationTabLayout);
    tabWidget->addTab(perturbationTab, QString());
    tabWidget->setTabText(tabWidget->indexOf(perturbationTab),
                          QCoreApplication::translate("Ambulon", "Perturbation"));
}

void Ambulon::populateTreadmillPerturbationTab()
{
    parameterGroup = new QGroupBox();
    parameterGroupLayout = new QVBoxLayout();
    parameterGroup->setLayout(parameterGroupLayout);
    rampGroup = new QGroupBox();
    setMinimumFixedPolicy(rampGroup);
    rampGroupLayout = new QHBoxLayout();
    rampGroup->setLayout(rampGroupLayout);
    parameterGroupLayout->addWidget(rampGroup, 0, Qt::Alignment());
    perturbationTabLayout->addWidget(parameterGroup);

    accelerationLabel = new QLabel();
    applyLabelFont(accelerationLabelFont, accelerationLabel);
    accelerationLabel->setText(QStringLiteral("Acceleration: "));
    fixSize(accelerationLabel, 90, 180);
    rampGroupLayout->addWidget(accelerationLabel, 0, Qt::Alignment());

    accelerationSpinBox = new QDoubleSpinBox();
    accelerationSpinBox->setSuffix(unitSuffix());
    accelerationSpinBox->setRange(0.0, 10.0);
    applyLabelFont(accelerationSpinBoxFont, accelerationSpinBox);
    fixSize(accelerationSpinBox, 160, 40);
    rampGroupLayout->addWidget(accelerationSpinBox, 0, Qt::Alignment());

    decelerationLabel = new QLabel();
    applyLabelFont(decelerationLabelFont, decelerationLabel);
    decelerationLabel->setText(QStringLiteral("Deceleration: "));
    fixSize(decelerationLabel, 90, 180);
    rampGroupLayout->addWidget(decelerationLabel, 0, Qt::Alignment());

    decelerationSpinBox = new QDoubleSpinBox();
    // A deceleration is entered as a negative acceleration.
    decelerationSpinBox->setSuffix(unitSuffix());
    decelerationSpinBox->setRange(-10.0, 0.0);
    applyLabelFont(decelerationSpinBoxFont, decelerationSpinBox);
    fixSize(decelerationSpinBox, 160, 40);
    rampGroupLayout->addWidget(decelerationSpinBox, 0, Qt::Alignment());

    spareGroup = new QGroupBox();
    perturbationTabLayout->addWidget(spareGroup);

    mirrorGroup = new QGroupBox();
    mirrorGroupLayout = new QGridLayout();
    mirrorGroup->setLayout(mirrorGroupLayout);
    perturbationTabLayout->addWidget(mirrorGroup);
    mirrorButton = new QPushButton();
    mirrorButton->setText(QStringLiteral("Mirror Left to Right"));
    mirrorButton->setCheckable(true);
    fixSize(mirrorButton, 200, 40);
    mirrorGroupLayout->addWidget(mirrorButton, 0, 0, 1, 2);
    leftAccelerationLabel = makeMirrorLabel(leftAccelerationLabelFont, "Left acceleration: ");
    leftAccelerationSpinBox = makeMirrorSpinBox(leftAccelerationSpinBoxFont, 0.0, 10.0);
    leftDecelerationLabel = makeMirrorLabel(leftDecelerationLabelFont, "Left deceleration: ");
    leftDecelerationSpinBox = makeMirrorSpinBox(leftDecelerationSpinBoxFont, -10.0, 0.0);
    rightAccelerationLabel = makeMirrorLabel(rightAccelerationLabelFont, "Right acceleration: ");
    rightAccelerationSpinBox = makeMirrorSpinBox(rightAccelerationSpinBoxFont, 0.0, 10.0);
    rightDecelerationLabel = makeMirrorLabel(rightDecelerationLabelFont, "Right deceleration: ");
    rightDecelerationSpinBox = makeMirrorSpinBox(rightDecelerationSpinBoxFont, -10.0, 0.0);
    // The left belt's row above the right belt's, acceleration before deceleration.
    QWidget* const rows[2][4] = {{leftAccelerationLabel, leftAccelerationSpinBox,
                                  leftDecelerationLabel, leftDecelerationSpinBox},
                                 {rightAccelerationLabel, rightAccelerationSpinBox,
                                  rightDecelerationLabel, rightDecelerationSpinBox}};
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 4; ++column)
            mirrorGroupLayout->addWidget(rows[row][column], row + 1, column);

    nameAfterLabel(accelerationLabel, accelerationSpinBox);
    nameAfterLabel(decelerationLabel, decelerationSpinBox);
    nameAfterLabel(leftAccelerationLabel, leftAccelerationSpinBox);
    nameAfterLabel(leftDecelerationLabel, leftDecelerationSpinBox);
    nameAfterLabel(rightAccelerationLabel, rightAccelerationSpinBox);
    nameAfterLabel(rightDecelerationLabel, rightDecelerationSpinBox);
}

void Ambulon::onClickConnect()
{
    portParseOk = nullptr;
    portParseBase = 10;

    // Whatever the mode, a new attempt supersedes the last direct one: its late
    // signals must not reach the window.
    delete socket;
    socket = nullptr;

    if (libraryCheckBox->isChecked()) {
        const bool tcp = tcpRadio->isChecked();
        const InitializeFunction initialize = tcp ? initializeFn : initializeUdpFn;
        if (!initialize) {
            const bool libraryLoaded =
                initializeFn || initializeUdpFn || setSpeedFn || setSpeed4Fn || closeFn;
            const QString text = libraryLoaded
                ? QStringLiteral("The treadmill library has no entry point \"%1\".")
                      .arg(QLatin1String(tcp ? "VELORUN_initialize" : "VELORUN_initializeUDP"))
                : QStringLiteral("The treadmill library \"velorun\" was not found in %1.")
                      .arg(QCoreApplication::applicationDirPath());
            showWarning(this, QString::fromLatin1(networkErrorTitle), text);
            return;
        }
        const QByteArray port = portEdit->toPlainText().toLatin1();
        const QByteArray host = hostEdit->toPlainText().toLatin1();
        const int result = initialize(host.constData(), port.constData());
        if (result != 0)
            error(result);
        else
            connected();
        return;
    }

    portText = portEdit->toPlainText();
    bool portValid = false;
    const uint port = portText.toUInt(&portValid, portParseBase);
    if (!portValid || port < 1 || port > 65535) {
        showWarning(this, QString::fromLatin1(networkErrorTitle),
                    QStringLiteral("Enter a port number from 1 to 65535."));
        return;
    }

    if (tcpRadio->isChecked())
        socket = new QTcpSocket();
    else
        socket = new QUdpSocket();
    socket->setReadBufferSize(socketReadBufferBytes);
    connect(socket, SIGNAL(connected()), this, SLOT(connected()));
    connect(socket, SIGNAL(disconnected()), this, SLOT(disconnected()));
    connect(socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
            SLOT(error(QAbstractSocket::SocketError)));
    connect(socket, SIGNAL(readyRead()), this, SLOT(readyRead()));

    qDebug("New connection made on port %d.", static_cast<int>(port));
    socket->connectToHost(hostEdit->toPlainText(), static_cast<quint16>(port), QIODevice::ReadWrite,
                          QAbstractSocket::AnyIPProtocol);
}

void Ambulon::onClickDisconnect() { }

void Ambulon::connected()
{
    if (udpRadio->isChecked())
        sendSetpoints(SetpointsOnConnect);
    else if (!libraryCheckBox->isChecked() && socket)
        socket->setSocketOption(QAbstractSocket::LowDelayOption, QVariant(1));

    connectButton->setEnabled(false);
    disconnectButton->setEnabled(true);
    libraryCheckBox->setEnabled(false);
    tcpRadio->setEnabled(false);
    udpRadio->setEnabled(false);
}

void Ambulon::disconnected() { }

void Ambulon::readyRead() { }

void Ambulon::error(QAbstractSocket::SocketError) { }

void Ambulon::error(int code)
{
    showWarning(this, QString::fromLatin1(networkErrorTitle), QStringLiteral("Error %1").arg(code));
    disconnected();
}

void Ambulon::sendSetpoints(SetpointType t)
{
    // At dispatch only, so that the right belt's boxes stay the operator's to edit.
    if (mirrorButton->isChecked()) {
        rightAccelerationSpinBox->setValue(leftAccelerationSpinBox->value());
        rightDecelerationSpinBox->setValue(leftDecelerationSpinBox->value());
    }
    std::cout << "setSetpoints activated" << std::endl;
    if (libraryCheckBox->isChecked())
        sendSetpointsLibrary(t);
    else
        sendSetpointsDirectly(t);
}

void Ambulon::sendSetpointsDirectly(SetpointType) { }

void Ambulon::sendSetpointsLibrary(SetpointType) { }
