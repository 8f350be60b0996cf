#ifndef AMBULON_H
#define AMBULON_H

#include <QAbstractSocket>
#include <QFont>
#include <QMainWindow>
#include <QString>

class QAction;
class QCheckBox;
class QDoubleSpinBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QVBoxLayout;

// What a setpoint dispatch is about; connected() sends SetpointsOnConnect when
// UDP is checked.
enum SetpointType { SetpointsDefault = 0, SetpointsOnConnect = 1 };

// Turns on Qt's scaling for high-density displays; call it before the
// application object is made. The tests lay the window out the same way.
void enableDisplayScaling();

class Ambulon : public QMainWindow
{
    Q_OBJECT

public:
    explicit Ambulon(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Ambulon() override;

    void error(int code);

public slots:
    void onClickConnect();
    void onClickDisconnect();
    void connected();
    void disconnected();
    void readyRead();
    void error(QAbstractSocket::SocketError);
    void sendSetpoints(SetpointType t = SetpointsDefault);
    void sendSetpointsDirectly(SetpointType t);
    void sendSetpointsLibrary(SetpointType t);

private:
    using InitializeFunction = int (*)(const char* host, const char* port);

    void createFileMenu();
    void createTabWidget();
    void createNetworkTab();
    void populateNetworkTab();
    void createTreadmillPerturbationTab();
    void populateTreadmillPerturbationTab();

    // Lets the tests look at what no widget shows: the library's entry points and the socket.
    friend struct AmbulonProbe;

    QWidget* centralArea = nullptr;
    QVBoxLayout* mainLayout = nullptr;
    InitializeFunction initializeFn = nullptr;
    InitializeFunction initializeUdpFn = nullptr;
    QFunctionPointer setSpeedFn = nullptr;
    QFunctionPointer setSpeed4Fn = nullptr;
    QFunctionPointer closeFn = nullptr;
    QMenuBar* fileMenuBar = nullptr;
    QMenu* fileMenu = nullptr;
    QAction* exitAction = nullptr;
    QTabWidget* tabWidget = nullptr;
    QWidget* networkTab = nullptr;
    QVBoxLayout* networkTabLayout = nullptr;
    QGroupBox* connectionGroup = nullptr;
    QVBoxLayout* connectionGroupLayout = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* disconnectButton = nullptr;
    QGroupBox* endpointGroup = nullptr;
    QGroupBox* transportGroup = nullptr;
    QGroupBox* connectButtonsGroup = nullptr;
    QHBoxLayout* endpointGroupLayout = nullptr;
    QHBoxLayout* transportGroupLayout = nullptr;
    QHBoxLayout* connectButtonsLayout = nullptr;
    QPlainTextEdit* hostEdit = nullptr;
    QPlainTextEdit* portEdit = nullptr;
    QLabel* hostLabel = nullptr;
    QFont hostLabelFont;
    QLabel* portLabel = nullptr;
    QFont portLabelFont;
    QLabel* tcpLabel = nullptr;
    QFont tcpLabelFont;
    QLabel* udpLabel = nullptr;
    QFont udpLabelFont;
    QRadioButton* tcpRadio = nullptr;
    QRadioButton* udpRadio = nullptr;
    QLabel* libraryLabel = nullptr;
    QFont libraryLabelFont;
    QCheckBox* libraryCheckBox = nullptr;
    QAbstractSocket* socket = nullptr;
    QString portText;
    QGroupBox* libraryGroup = nullptr;
    QHBoxLayout* libraryGroupLayout = nullptr;
    bool* portParseOk = nullptr;
    int portParseBase = 10;
    QWidget* perturbationTab = nullptr;
    QGridLayout* perturbationTabLayout = nullptr;
    QGroupBox* parameterGroup = nullptr;
    QVBoxLayout* parameterGroupLayout = nullptr;
    QGroupBox* rampGroup = nullptr;
    QHBoxLayout* rampGroupLayout = nullptr;
    QFont accelerationLabelFont;
    QLabel* accelerationLabel = nullptr;
    QFont accelerationSpinBoxFont;
    QDoubleSpinBox* accelerationSpinBox = nullptr;
    QLabel* decelerationLabel = nullptr;
    QFont decelerationLabelFont;
    QFont decelerationSpinBoxFont;
    QDoubleSpinBox* decelerationSpinBox = nullptr;
    QGroupBox* spareGroup = nullptr;

    // Mirroring: at dispatch, the right belt's ramp takes the left belt's values.
    QGroupBox* mirrorGroup = nullptr;
    QGridLayout* mirrorGroupLayout = nullptr;
    QPushButton* mirrorButton = nullptr;
    QLabel* leftAccelerationLabel = nullptr;
    QFont leftAccelerationLabelFont;
    QDoubleSpinBox* leftAccelerationSpinBox = nullptr;
    QFont leftAccelerationSpinBoxFont;
    QLabel* leftDecelerationLabel = nullptr;
    QFont leftDecelerationLabelFont;
    QDoubleSpinBox* leftDecelerationSpinBox = nullptr;
    QFont leftDecelerationSpinBoxFont;
    QLabel* rightAccelerationLabel = nullptr;
    QFont rightAccelerationLabelFont;
    QDoubleSpinBox* rightAccelerationSpinBox = nullptr;
    QFont rightAccelerationSpinBoxFont;
    QLabel* rightDecelerationLabel = nullptr;
    QFont rightDecelerationLabelFont;
    QDoubleSpinBox* rightDecelerationSpinBox = nullptr;
    QFont rightDecelerationSpinBoxFont;
};

#endif // AMBULON_H
