// One report told to several observers, in the order they were added.
#pragma once

#include <array>

namespace qn {

template <class Report, int MaxObservers = 4>
class FanOut : public Report {
public:
    // Returns false when it has no room for another.
    bool add(Report& observer) {
        if (count_ == MaxObservers) return false;
        observers_[count_++] = &observer;
        return true;
    }
    void remove(Report& observer) {
        for (int i = 0; i < count_; ++i)
            if (observers_[i] == &observer) {
                for (int j = i + 1; j < count_; ++j) observers_[j - 1] = observers_[j];
                --count_;
                return;
            }
    }

protected:
    template <class Record>
    void each(void (Report::*call)(const Record&), const Record& r) {
        for (int i = 0; i < count_; ++i) (observers_[i]->*call)(r);
    }

private:
    std::array<Report*, MaxObservers> observers_{};
    int count_ = 0;
};

}  // namespace qn
