#include "base/Component.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnwick {
namespace {

struct Probe : TComponent {
    Probe(TComponent* owner, std::vector<std::string>* freed, std::string name)
        : TComponent(owner), freed_(freed) {
        SetName(std::move(name));
    }
    ~Probe() override { freed_->push_back(Name()); }
    std::vector<std::string>* freed_;
};

TEST(Component, OwnerFindsByNameAndFreesInReverseOrder) {
    std::vector<std::string> freed;
    {
        TComponent owner;
        auto& a = TComponent::Create<Probe>(owner, &freed, "ClientDataSet1");
        auto& b = TComponent::Create<Probe>(owner, &freed, "DataSetProvider2");
        EXPECT_EQ(owner.FindComponent("datasetprovider2"), &b);
        EXPECT_EQ(owner.FindComponent("ClientDataSet1"), &a);
        EXPECT_EQ(owner.FindComponent("Missing"), nullptr);
        EXPECT_EQ(owner.FindComponent(""), nullptr);
        EXPECT_EQ(a.Owner(), &owner);
    }
    EXPECT_EQ(freed, (std::vector<std::string>{"DataSetProvider2", "ClientDataSet1"}));
}

}  // namespace
}  // namespace tarnwick
