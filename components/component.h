// Base of the program's non-visual components and the shape of their events.
#pragma once

#include <functional>

class TComponent {
 public:
  TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent() = default;
};

// A plain notification: the component that raised it is the Sender.
using TNotifyEvent = std::function<void(TComponent* Sender)>;
