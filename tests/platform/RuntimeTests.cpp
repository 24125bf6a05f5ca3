#include "platform/Runtime.h"

#include <gtest/gtest.h>

namespace rivlo {

namespace {
using Fn = int(int);
int call(ObjClass* cls, const char* sel, int v) {
    return invokeImplementation<Fn>(cls->lookup(sel), sel, v);
}
}  // namespace

TEST(RuntimeTest, LookupFollowsTheSuperclassChain) {
    ObjClass* base = ObjClass::define("RtBase", nullptr);
    ObjClass* mid = ObjClass::define("RtMid", base);
    ObjClass* leaf = ObjClass::define("RtLeaf", mid);
    EXPECT_TRUE(leaf->isSubclassOf(base));
    EXPECT_FALSE(base->isSubclassOf(leaf));
    EXPECT_EQ(ObjClass::named("RtLeaf"), leaf);
    EXPECT_EQ(ObjClass::named("NoSuchClass"), nullptr);

    ASSERT_TRUE(base->addMethod("twice:", makeImplementation<Fn>([](int v) { return 2 * v; })));
    EXPECT_EQ(call(leaf, "twice:", 4), 8);
    EXPECT_EQ(leaf->ownMethod("twice:"), nullptr);
    EXPECT_EQ(leaf->instanceMethod("twice:"), base->ownMethod("twice:"));

    // The leaf overrides; the base keeps its own.
    EXPECT_TRUE(leaf->addMethod("twice:", makeImplementation<Fn>([](int v) { return 20 * v; })));
    EXPECT_FALSE(leaf->addMethod("twice:", makeImplementation<Fn>([](int v) { return 0 * v; })));
    EXPECT_EQ(call(leaf, "twice:", 4), 80);
    EXPECT_EQ(call(mid, "twice:", 4), 8);

    // Replace answers the previous own implementation, or null when it added the method.
    IMP old = leaf->replaceMethod("twice:", makeImplementation<Fn>([](int v) { return 3 * v; }));
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(invokeImplementation<Fn>(old, "twice:", 1), 20);
    EXPECT_EQ(mid->replaceMethod("twice:", makeImplementation<Fn>([](int v) { return v; })),
              nullptr);
    EXPECT_EQ(call(mid, "twice:", 4), 4);
    EXPECT_EQ(call(base, "twice:", 4), 8);
}

TEST(RuntimeTest, ExchangeSwapsImplementationsInPlace) {
    ObjClass* cls = ObjClass::define("RtSwap", nullptr);
    cls->addMethod("a", makeImplementation<Fn>([](int v) { return v + 1; }));
    cls->addMethod("b", makeImplementation<Fn>([](int v) { return v + 2; }));
    MethodRef a = cls->ownMethod("a");
    MethodRef b = cls->ownMethod("b");
    EXPECT_EQ(a->typeEncoding(), b->typeEncoding());
    ObjClass::exchangeImplementations(a, b);
    EXPECT_EQ(call(cls, "a", 0), 2);
    EXPECT_EQ(call(cls, "b", 0), 1);
    ObjClass::exchangeImplementations(a, a);  // the same method: nothing
    ObjClass::exchangeImplementations(a, nullptr);
    EXPECT_EQ(call(cls, "a", 0), 2);
}

TEST(RuntimeTest, MissingOrMismatchedImplementationsAnswerDefaults) {
    ObjClass* cls = ObjClass::define("RtMismatch", nullptr);
    EXPECT_EQ(call(cls, "absent", 5), 0);
    cls->addMethod("text", makeImplementation<std::string()>([] { return std::string("x"); }));
    EXPECT_EQ(call(cls, "text", 5), 0);
    EXPECT_EQ(invokeImplementation<std::string()>(cls->lookup("text"), "text"), "x");
    EXPECT_NE(cls->ownMethod("text")->typeEncoding(), TypedImplementation<Fn>::encoding());
}

}  // namespace rivlo
