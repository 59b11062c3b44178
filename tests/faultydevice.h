#pragma once
// A medium that fails like a real one, made with fopencookie: reads that touch chosen bad
// sectors fail (the whole request, as a kernel fails a buffered read, or up to the bad sector),
// and a device that vanishes at a chosen sector, after which reads and seeks fail.
#include <QByteArray>
#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <functional>
#include <memory>

struct FaultyMedium {
    QByteArray data;
    QSet<quint64> bad;              // sectors that never read
    bool failWholeRequest = true;   // false: deliver the bytes before the bad sector first
    quint64 vanishAt = ~0ull;       // from this sector on the device is gone
    std::atomic<int> opens{0};
    // Called before each read request with the number of the open (1 = first) and the first
    // sector asked for: a test can hold a reader back here.
    std::function<void(int open, quint64 sector)> onRead;
    bool refuseOpen = false;
};

namespace faulty_detail {
struct Cookie {
    std::shared_ptr<FaultyMedium> m;
    off64_t pos = 0;
    int open = 0;
};

inline ssize_t read(void *c, char *buf, size_t size)
{
    auto *k = static_cast<Cookie *>(c);
    FaultyMedium &m = *k->m;
    if (m.onRead)
        m.onRead(k->open, quint64(k->pos) / 512);
    const quint64 first = quint64(k->pos) / 512;
    if (first >= m.vanishAt) {
        errno = ENODEV;
        return -1;
    }
    if (k->pos >= m.data.size())
        return 0;
    size_t n = std::min<size_t>(size, size_t(m.data.size() - k->pos));
    const quint64 last = (quint64(k->pos) + n - 1) / 512;
    for (quint64 s = first; s <= last; ++s) {
        if (m.bad.contains(s) || s >= m.vanishAt) {
            if (m.failWholeRequest || s == first) {
                errno = s >= m.vanishAt ? ENODEV : EIO;
                return -1;
            }
            n = size_t(s * 512 - quint64(k->pos));
            break;
        }
    }
    std::memcpy(buf, m.data.constData() + k->pos, n);
    k->pos += off64_t(n);
    return ssize_t(n);
}

inline int seek(void *c, off64_t *offset, int whence)
{
    auto *k = static_cast<Cookie *>(c);
    if (k->m->vanishAt != ~0ull && quint64(k->pos) / 512 >= k->m->vanishAt) {
        errno = ENODEV;
        return -1;
    }
    off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? k->pos : k->m->data.size();
    k->pos = base + *offset;
    *offset = k->pos;
    return 0;
}

inline int close(void *c)
{
    delete static_cast<Cookie *>(c);
    return 0;
}
} // namespace faulty_detail

// A stream over the medium; null with errno set when the medium refuses or is gone.
inline FILE *openFaulty(const std::shared_ptr<FaultyMedium> &m)
{
    const int open = ++m->opens;
    if (m->refuseOpen || m->vanishAt == 0) {
        errno = m->refuseOpen ? EACCES : ENODEV;
        return nullptr;
    }
    cookie_io_functions_t io{faulty_detail::read, nullptr, faulty_detail::seek, faulty_detail::close};
    return fopencookie(new faulty_detail::Cookie{m, 0, open}, "rb", io);
}

// A medium of these bytes, and what a core's deviceOpener takes to read it.
inline std::shared_ptr<FaultyMedium> faultyMedium(const QByteArray &data)
{
    auto m = std::make_shared<FaultyMedium>();
    m->data = data;
    return m;
}
inline std::function<FILE *(const QString &)> faultyOpener(const std::shared_ptr<FaultyMedium> &m)
{
    return [m](const QString &) { return openFaulty(m); };
}

// Holds a reader (or an open) back until go() or ten seconds have passed: a slow medium.
inline void holdUntil(const std::function<bool()> &go)
{
    QElapsedTimer t;
    t.start();
    while (!go() && t.elapsed() < 10000)
        QThread::yieldCurrentThread();
}
