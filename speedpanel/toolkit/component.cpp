#include "speedpanel/toolkit/component.h"
#include <algorithm>

namespace velotune::tk {

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
    destroying_ = true;
    while (!components_.empty()) {
        TComponent* last = components_.back();
        delete last; // its destructor removes it from components_
    }
}

void TComponent::InsertComponent(TComponent* c) {
    if (!c || c->owner_ == this) return;
    if (c->owner_) c->owner_->RemoveComponent(c);
    components_.push_back(c);
    c->owner_ = this;
    if (loading_) c->loading_ = true; // made while the owner's description is read
    Notification(c, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it == components_.end()) return;
    Notification(c, TOperation::opRemove);
    // Notification may have changed the list; look the entry up again.
    components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
    c->owner_ = nullptr;
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    // A copy: a handler may change the list while it is being walked.
    const std::vector<TComponent*> owned = components_;
    for (TComponent* c : owned) {
        if (c != component || operation == TOperation::opInsert)
            c->Notification(component, operation);
    }
}

void TComponent::BeginLoading() {
    loading_ = true;
    for (TComponent* c : components_)
        c->BeginLoading();
}

void TComponent::EndLoading() {
    const std::vector<TComponent*> owned = components_;
    for (TComponent* c : owned)
        c->EndLoading();
    if (loading_) Loaded();
}

void TComponent::Loaded() {
    loading_ = false;
}

} // namespace velotune::tk
