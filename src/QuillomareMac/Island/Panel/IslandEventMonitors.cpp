#include "IslandEventMonitors.h"

#include <Platform/X11RawButtonMonitor.h>

#include <QApplication>
#include <QMouseEvent>

#include <deque>
#include <vector>

namespace QuillomareMac {

unsigned IslandMouseMask::bit(const IslandMouseEvent& event)
{
    const bool down = event.kind == IslandMouseEventKind::down;
    switch (event.button) {
    case IslandMouseButton::left:
        return down ? leftDown : leftUp;
    case IslandMouseButton::right:
        return down ? rightDown : rightUp;
    case IslandMouseButton::other:
        return down ? otherDown : otherUp;
    }
    return 0;
}

namespace {

// Clicks handed to the global monitors, remembered so that one of them reaching a window of ours
// after all is not handled a second time.
constexpr std::size_t kRememberedGlobalClicks = 16;

struct ServerClick
{
    IslandMouseEventKind kind;
    IslandMouseButton button;
    quint32 time;

    // The server's time and the kind name one click; the button is left out, as whether a
    // left-handed mapping was applied differs between the ways the server reports a click.
    bool isSameClick(const ServerClick& other) const { return kind == other.kind && time == other.time; }
};

IslandMouseButton buttonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return IslandMouseButton::left;
    case Qt::RightButton:
        return IslandMouseButton::right;
    default:
        return IslandMouseButton::other;
    }
}

IslandMouseButton buttonOf(Platform::X11RawButtonMonitor::Button button)
{
    switch (button) {
    case Platform::X11RawButtonMonitor::Button::left:
        return IslandMouseButton::left;
    case Platform::X11RawButtonMonitor::Button::right:
        return IslandMouseButton::right;
    default:
        return IslandMouseButton::other;
    }
}

class MonitorHub final : public QObject
{
public:
    struct Local
    {
        quint64 id;
        unsigned mask;
        std::function<bool(const IslandMouseEvent&)> handler;
    };
    struct Global
    {
        quint64 id;
        unsigned mask;
        std::function<void(const IslandMouseEvent&)> handler;
    };

    explicit MonitorHub(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

    quint64 addLocal(unsigned mask, std::function<bool(const IslandMouseEvent&)> handler)
    {
        const quint64 id = m_nextId++;
        m_locals.push_back({id, mask, std::move(handler)});
        return id;
    }

    quint64 addGlobal(unsigned mask, std::function<void(const IslandMouseEvent&)> handler)
    {
        ensureGlobalSource();
        const quint64 id = m_nextId++;
        m_globals.push_back({id, mask, std::move(handler)});
        return id;
    }

    void removeLocal(quint64 id)
    {
        std::erase_if(m_locals, [id](const Local& local) { return local.id == id; });
    }

    void removeGlobal(quint64 id)
    {
        std::erase_if(m_globals, [id](const Global& global) { return global.id == id; });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick
            && type != QEvent::MouseButtonRelease)
            return false;
        // Every click reaches the window first and then its widget: look at it once, at the window.
        if (!watched->isWindowType())
            return false;
        auto* window = static_cast<QWindow*>(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        const IslandMouseEventKind kind =
            type == QEvent::MouseButtonRelease ? IslandMouseEventKind::up : IslandMouseEventKind::down;
        if (window->type() == Qt::Popup || window->type() == Qt::ToolTip)
            return false;

        IslandMouseEvent islandEvent;
        islandEvent.kind = kind;
        islandEvent.button = buttonOf(mouse->button());
        islandEvent.window = window;
        // On X11 a mouse event's timestamp is the server's time of the click.
        const ServerClick click{kind, islandEvent.button, quint32(mouse->timestamp())};
        if (std::any_of(m_globalClicks.begin(), m_globalClicks.end(),
                        [&](const ServerClick& global) { return global.isSameClick(click); }))
            return false; // a click the global monitors already had
        const std::vector<Local> snapshot = m_locals;
        for (const Local& local : snapshot) {
            if (!IslandMouseMask::matches(local.mask, islandEvent) || !stillInstalled(local.id))
                continue;
            if (local.handler(islandEvent))
                return true;
        }
        return false;
    }

private:
    bool stillInstalled(quint64 id) const
    {
        return std::any_of(m_locals.begin(), m_locals.end(), [id](const Local& local) { return local.id == id; });
    }

    void ensureGlobalSource()
    {
        if (m_globalSourceTried)
            return;
        m_globalSourceTried = true;
        m_raw = Platform::X11RawButtonMonitor::create();
        if (m_raw) {
            connect(m_raw.get(), &Platform::X11RawButtonMonitor::buttonPressed, this,
                    [this](Platform::X11RawButtonMonitor::Button button, quint32 time, bool reachedUs) {
                        heardRaw({IslandMouseEventKind::down, buttonOf(button), time}, reachedUs);
                    });
            connect(m_raw.get(), &Platform::X11RawButtonMonitor::buttonReleased, this,
                    [this](Platform::X11RawButtonMonitor::Button button, quint32 time, bool reachedUs) {
                        heardRaw({IslandMouseEventKind::up, buttonOf(button), time}, reachedUs);
                    });
            return;
        }
        // Without raw events, the program losing the keyboard to another one is the only sign
        // of a click elsewhere.
        connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) {
                m_wasActive = true;
                return;
            }
            if (!m_wasActive)
                return;
            m_wasActive = false;
            IslandMouseEvent event;
            event.kind = IslandMouseEventKind::up;
            event.button = IslandMouseButton::left;
            deliverGlobal(event);
        });
        m_wasActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    }

    // The raw monitor reports a click once it knows whether one of our windows had it too.
    void heardRaw(const ServerClick& click, bool reachedUs)
    {
        if (reachedUs)
            return; // the local monitors have it
        if (QApplication::activePopupWidget())
            return; // our menu holds the pointer: the click is ours
        m_globalClicks.push_back(click);
        if (m_globalClicks.size() > kRememberedGlobalClicks)
            m_globalClicks.pop_front();
        IslandMouseEvent event;
        event.kind = click.kind;
        event.button = click.button;
        deliverGlobal(event);
    }

    void deliverGlobal(const IslandMouseEvent& event)
    {
        const std::vector<Global> snapshot = m_globals;
        for (const Global& global : snapshot) {
            const bool installed = std::any_of(m_globals.begin(), m_globals.end(),
                                               [&](const Global& g) { return g.id == global.id; });
            if (installed && IslandMouseMask::matches(global.mask, event))
                global.handler(event);
        }
    }

    std::vector<Local> m_locals;
    std::vector<Global> m_globals;
    quint64 m_nextId = 1;
    bool m_globalSourceTried = false;
    bool m_wasActive = false;
    std::unique_ptr<Platform::X11RawButtonMonitor> m_raw;
    std::deque<ServerClick> m_globalClicks;
};

class HubMonitor final : public IslandEventMonitor
{
public:
    HubMonitor(MonitorHub* hub, quint64 id, bool global) : m_hub(hub), m_id(id), m_global(global) {}
    ~HubMonitor() override
    {
        if (!m_hub)
            return;
        if (m_global)
            m_hub->removeGlobal(m_id);
        else
            m_hub->removeLocal(m_id);
    }

private:
    QPointer<MonitorHub> m_hub;
    quint64 m_id;
    bool m_global;
};

class ApplicationEventMonitors final : public IslandEventMonitors
{
public:
    std::unique_ptr<IslandEventMonitor> addGlobalMonitor(unsigned mask,
                                                         std::function<void(const IslandMouseEvent&)> handler) override
    {
        MonitorHub* hub = this->hub();
        if (!hub)
            return nullptr;
        return std::make_unique<HubMonitor>(hub, hub->addGlobal(mask, std::move(handler)), true);
    }

    std::unique_ptr<IslandEventMonitor> addLocalMonitor(unsigned mask,
                                                        std::function<bool(const IslandMouseEvent&)> handler) override
    {
        MonitorHub* hub = this->hub();
        if (!hub)
            return nullptr;
        return std::make_unique<HubMonitor>(hub, hub->addLocal(mask, std::move(handler)), false);
    }

private:
    MonitorHub* hub()
    {
        if (!m_hub && qApp)
            m_hub = new MonitorHub(qApp);
        return m_hub;
    }

    QPointer<MonitorHub> m_hub;
};

} // namespace

std::shared_ptr<IslandEventMonitors> IslandEventMonitors::system()
{
    static const std::shared_ptr<IslandEventMonitors> monitors = std::make_shared<ApplicationEventMonitors>();
    return monitors;
}

} // namespace QuillomareMac
