// The component base: ownership, removal notifications and the loading and
// design-time state of a component.
#pragma once

#include "speedpanel/toolkit/base.h"
#include <string>
#include <vector>

namespace velotune::tk {

enum class TOperation { opInsert, opRemove };

class TComponent {
public:
    // Registers with the owner, which destroys this component with itself.
    explicit TComponent(TComponent* owner);
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    // Destroys the owned components (last first), then leaves the owner, which
    // tells its remaining components that this one is removed.
    virtual ~TComponent();

    TComponent* Owner() const { return owner_; }
    const std::vector<TComponent*>& Components() const { return components_; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }

    std::string Name;

    // State: inside a form designer (design time); the owner's description still being read.
    bool Designing() const { return designing_; }
    bool Loading() const { return loading_; }
    bool Destroying() const { return destroying_; }
    void SetDesigning(bool on) { designing_ = on; }

    // Reading of a description: BeginLoading marks this component and the ones
    // it owns as loading; EndLoading calls Loaded on each owned component and then
    // on this one.
    void BeginLoading();
    void EndLoading();

    // Destroys the owned components, last first. Derived destructors call it to
    // destroy them while their own part still exists.
    void DestroyComponents();

    // Owner-side list management, with notifications to every owned component.
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);

    // Called once the owner's description has been read. Clears the loading state.
    virtual void Loaded();
    // Called when a component is inserted into or removed from the owner of this
    // one (and on the owner itself). The base passes it on to owned components.
    virtual void Notification(TComponent* component, TOperation operation);

private:
    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    bool designing_ = false;
    bool loading_ = false;
    bool destroying_ = false;
};

} // namespace velotune::tk
