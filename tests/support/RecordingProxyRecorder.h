#pragma once

#include <functional>
#include <vector>

#include "platform/api/ProxySettingsRecorder.h"

namespace cloakline::test {

// Answers Record with Now and keeps what Restore was given.
class RecordingProxyRecorder : public IProxySettingsRecorder {
  public:
    std::vector<TRecordedSetting> Now;
    bool FailRecord = false;
    bool FailRestore = false;
    int Records = 0;
    std::vector<std::vector<TRecordedSetting>> Restored;
    // Runs at every Record, e.g. to note what had been switched by then.
    std::function<void()> OnRecord;

    bool Record(std::vector<TRecordedSetting>& settings) const override {
        ++const_cast<RecordingProxyRecorder*>(this)->Records;
        if (OnRecord) {
            OnRecord();
        }
        settings.insert(settings.end(), Now.begin(), Now.end());
        return !FailRecord;
    }
    bool Restore(const std::vector<TRecordedSetting>& settings) override {
        Restored.push_back(settings);
        return !FailRestore;
    }
};

}  // namespace cloakline::test
