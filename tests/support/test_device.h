#pragma once

#include "sequencer/sequencer_device.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>

// The sequencer device, sent commands the way the program sends them.
struct TestDevice : SequencerDevice
{
    using SequencerDevice::SequencerDevice;
    std::uint32_t operator()(const QString &command) { return sendCommand(command, nullptr, 0); }
    std::uint32_t open(const QString &path, const QString &alias = QStringLiteral("canyon"))
    {
        return (*this)(QStringLiteral("open %1 type sequencer alias %2").arg(path, alias));
    }
    // The answer to the status query; "failed" when it fails, which leaves the reply untouched.
    QString status(const QString &item)
    {
        QString reply = QStringLiteral("failed");
        sendCommand(QStringLiteral("status canyon ") + item, &reply, 128);
        return reply;
    }
    QString mode() { return status(QStringLiteral("mode")); }
    // The loudest sample of the next frames rendered.
    float peak(int frames)
    {
        float loudest = 0;
        for (const float sample : render(frames))
            loudest = std::max(loudest, std::abs(sample));
        return loudest;
    }
};
