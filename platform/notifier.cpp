#include "platform/notifier.h"

#ifdef __linux__
#include "platform/freedesktopnotifier.h"
#endif

namespace ostrelle {

namespace {

class SilentNotifier final : public Notifier
{
public:
    void notify(const QString&, const QString&, const QString&, Urgency) override {}
};

} // namespace

std::unique_ptr<Notifier> CreateNotifier()
{
#ifdef __linux__
    return std::make_unique<FreedesktopNotifier>(QDBusConnection::sessionBus());
#else
    return std::make_unique<SilentNotifier>();
#endif
}

} // namespace ostrelle
