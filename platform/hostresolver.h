#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

namespace ostrelle {

// What a name stood for when it was looked up: its addresses, or why there are none.
struct HostLookup
{
    QList<QHostAddress> addresses;
    QString error; // the resolver's own words when addresses is empty
};

// Turns a host name into addresses without blocking the event loop. Behind an interface so that
// tests reach servers by name (a certificate's host name, a pool's several addresses) without
// the machine's resolver or hosts file.
class HostResolver
{
public:
    virtual ~HostResolver() = default;
    // Looks name up; done runs later from the event loop, never inside this call, and never once
    // context is gone.
    virtual void lookUp(const QString& name, QObject* context,
                        std::function<void(const HostLookup&)> done) = 0;
};

// The machine's own resolver (QHostInfo), shared by everything that looks names up.
HostResolver& SystemHostResolver();

} // namespace ostrelle
