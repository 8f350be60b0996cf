// The panel's controls found the way an operator finds them, by their labels and
// texts, and where an operator clicks. Without Qt Test, so that programs that
// run where its library is not (e2e_layout beside the unpacked Windows panel,
// the bench) use them too: Qt Test's headers define functions that, unoptimised,
// call into its library.
#ifndef PANEL_H
#define PANEL_H

#include "Ambulon.h"

#include <QCheckBox>
#include <QHash>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>

// The control that stands right after the label reading `text` in its row, or null.
template<typename T> T* besideLabel(const QWidget* window, const QString& text)
{
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->text() != text)
            continue;
        QLayout* row = label->parentWidget()->layout();
        QLayoutItem* next = row->itemAt(row->indexOf(label) + 1);
        return next ? qobject_cast<T*>(next->widget()) : nullptr;
    }
    return nullptr;
}

inline QPushButton* button(const QWidget* window, const QString& text)
{
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

struct Panel
{
    Panel() = default;
    explicit Panel(const Ambulon& w)
        : host(besideLabel<QPlainTextEdit>(&w, "Host: ")),
          port(besideLabel<QPlainTextEdit>(&w, "Port: ")),
          library(besideLabel<QCheckBox>(&w, "Use Treadmill Library")),
          tcp(besideLabel<QRadioButton>(&w, "TCP: ")),
          udp(besideLabel<QRadioButton>(&w, "UDP: ")),
          connect(button(&w, "Connect")),
          disconnect(button(&w, "Disconnect"))
    {
    }

    // The labels and buttons of the controls not found, for a test's failure message.
    QString missing() const
    {
        QStringList names;
        const std::pair<const void*, const char*> all[] = {{host, "Host: "},
                                                           {port, "Port: "},
                                                           {library, "Use Treadmill Library"},
                                                           {tcp, "TCP: "},
                                                           {udp, "UDP: "},
                                                           {connect, "Connect"},
                                                           {disconnect, "Disconnect"}};
        for (const auto& [control, name] : all)
            if (!control)
                names << QString("\"%1\"").arg(name);
        return names.isEmpty() ? QString() : "no control for " + names.join(", ");
    }

    // Fills the page as an operator would; `transport` is "TCP", "UDP" or "" for neither.
    void fill(const QString& hostText, const QString& portText, const QString& transport,
              bool libraryMode) const
    {
        host->setPlainText(hostText);
        port->setPlainText(portText);
        if (transport == "TCP")
            tcp->setChecked(true);
        else if (transport == "UDP")
            udp->setChecked(true);
        library->setChecked(libraryMode);
    }

    bool locked() const
    {
        return !connect->isEnabled() && disconnect->isEnabled() && !library->isEnabled()
            && !tcp->isEnabled() && !udp->isEnabled();
    }
    bool idle() const
    {
        return connect->isEnabled() && disconnect->isEnabled() && library->isEnabled()
            && tcp->isEnabled() && udp->isEnabled();
    }

    QPlainTextEdit* host = nullptr;
    QPlainTextEdit* port = nullptr;
    QCheckBox* library = nullptr;
    QRadioButton* tcp = nullptr;
    QRadioButton* udp = nullptr;
    QPushButton* connect = nullptr;
    QPushButton* disconnect = nullptr;
};

// Where an operator clicks, in the pixels of a shown window: the middle
// of the host field and of Connect, the indicators of the check box and radio
// buttons, the File menu and the two tabs.
inline QHash<QString, QPoint> controlPositions(Ambulon& window)
{
    QHash<QString, QPoint> at;
    const Panel controls(window);
    // In the display's pixels, which xdotool speaks, not Qt's scaled ones.
    const auto inWindow = [&](QWidget* w, QPoint p) {
        return w->mapTo(&window, p) * window.devicePixelRatioF();
    };
    const auto centre = [&](QWidget* w) { return inWindow(w, w->rect().center()); };
    const auto indicator = [&](QWidget* w) { return inWindow(w, QPoint(7, w->height() / 2)); };
    at["host"] = centre(controls.host);
    at["library"] = indicator(controls.library);
    at["TCP"] = indicator(controls.tcp);
    at["UDP"] = indicator(controls.udp);
    at["connect"] = centre(controls.connect);
    auto* bar = window.findChild<QMenuBar*>();
    auto* file = window.findChild<QMenu*>("menuFile");
    at["file"] = inWindow(bar, bar->actionGeometry(file->menuAction()).center());
    auto* tabs = window.findChild<QTabWidget*>()->findChild<QTabBar*>();
    at["perturbation"] = inWindow(tabs, tabs->tabRect(1).center());
    at["network"] = inWindow(tabs, tabs->tabRect(0).center());
    return at;
}

#endif // PANEL_H
