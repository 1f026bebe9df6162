// Several observers of one link (the statistics, the trace, ...): each event
// goes to all of them, in the order they were added.
#pragma once

#include <algorithm>
#include <vector>

#include "link/link_observer.h"

namespace wire {

class TObserverList : public ILinkObserver {
 public:
  void Add(ILinkObserver* observer) {
    if (std::find(List.begin(), List.end(), observer) == List.end()) List.push_back(observer);
  }
  void Remove(ILinkObserver* observer) { std::erase(List, observer); }

  void NoiseSkipped(uint32_t count) override {
    for (auto* o : List) o->NoiseSkipped(count);
  }
  void PacketReceived(const uint8_t* bytes, size_t n, TRxVerdict verdict, uint8_t answer) override {
    for (auto* o : List) o->PacketReceived(bytes, n, verdict, answer);
  }
  void UnreadDiscarded(uint32_t count) override {
    for (auto* o : List) o->UnreadDiscarded(count);
  }
  void PacketSent(const uint8_t* bytes, size_t n, int attempt) override {
    for (auto* o : List) o->PacketSent(bytes, n, attempt);
  }
  void AnswerReceived(uint8_t answer) override {
    for (auto* o : List) o->AnswerReceived(answer);
  }
  void GaveUp(TGiveUp what) override {
    for (auto* o : List) o->GaveUp(what);
  }
  void Aborted(TAbortReason why) override {
    for (auto* o : List) o->Aborted(why);
  }
  void Idle() override {
    for (auto* o : List) o->Idle();
  }

 private:
  std::vector<ILinkObserver*> List;
};

}  // namespace wire
