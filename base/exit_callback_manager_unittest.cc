#include "base/exit_callback_manager.h"

#include <string>

#include "base/bind.h"
#include "gtest/gtest.h"

namespace base {
namespace {

void AppendChar(void* argument, char c) { *static_cast<std::string*>(argument) += c; }
void AppendA(void* argument) { AppendChar(argument, 'a'); }
void AppendB(void* argument) { AppendChar(argument, 'b'); }
void AppendC(void* argument) { AppendChar(argument, 'c'); }

// Registers another callback while the manager runs them.
void AppendAndRegister(void* argument) {
  AppendChar(argument, 'r');
  ExitCallbackManager::RegisterCallback(&AppendC, argument);
}

TEST(ExitCallbackManagerTest, RunsLastRegisteredFirst) {
  std::string order;
  {
    ExitCallbackManager manager;
    EXPECT_TRUE(ExitCallbackManager::RegisterCallback(&AppendA, &order));
    EXPECT_TRUE(ExitCallbackManager::RegisterTask(Bind(&AppendChar, &order, 't')));
    EXPECT_TRUE(ExitCallbackManager::RegisterCallback(&AppendAndRegister, &order));
    EXPECT_TRUE(ExitCallbackManager::RegisterCallback(&AppendB, &order));
    EXPECT_EQ(order, "");
  }
  EXPECT_EQ(order, "brcta");
}

TEST(ExitCallbackManagerTest, NestedManagerShadowsTheOuter) {
  std::string outer_order;
  std::string inner_order;
  {
    ExitCallbackManager outer;
    ExitCallbackManager::RegisterCallback(&AppendA, &outer_order);
    {
      ExitCallbackManager inner;
      ExitCallbackManager::RegisterCallback(&AppendB, &inner_order);
      ExitCallbackManager::RegisterCallback(&AppendC, &inner_order);
    }
    EXPECT_EQ(inner_order, "cb");
    EXPECT_EQ(outer_order, "");
    // The outer one is current again.
    ExitCallbackManager::RegisterCallback(&AppendB, &outer_order);
  }
  EXPECT_EQ(outer_order, "ba");
  EXPECT_EQ(inner_order, "cb");
}

TEST(ExitCallbackManagerTest, RegisterWithoutManagerFails) {
  std::string order;
  ASSERT_FALSE(ExitCallbackManager::HasCurrent());
  EXPECT_FALSE(ExitCallbackManager::RegisterCallback(&AppendA, &order));
  EXPECT_FALSE(ExitCallbackManager::RegisterTask(Closure()));
}

}  // namespace
}  // namespace base
