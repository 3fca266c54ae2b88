// The base of objects that may be owned by another one. Only the owner link
// is kept; an owner does not free what it owns.
#pragma once

class TComponent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr) : FOwner(AOwner) {}
  virtual ~TComponent() = default;
  TComponent* Owner() const { return FOwner; }

 private:
  TComponent* FOwner;
};
