// Keys synthesised by type_text, typed into Notepad's edit control through
// the real input queue and read back from it.
#include "standins/standin_client.h"

#include "keyout/sendtext.h"

namespace qn::wine_test {
namespace {

TEST(WineSendText, KeysTypedIntoNotepadArriveAsThoseCharacters) {
    standin::Notepad np;
    ASSERT_TRUE(np.start()) << "Notepad did not start";
    standin::WineProgram p;
    ASSERT_TRUE(standin::bring_to_front(np.top()));
    struct Case {
        const char* text;
        const char* typed;
    } cases[] = {
        {"j", "j"}, {"0", "0"}, {"-", "-"}, {"=", "="},
        {"j;k", "jk"},  // the semicolon is no key of a bell: skipped
        {"J", "j"},     // no Shift is sent
    };
    for (const Case& k : cases) {
        np.clear();
        p.program().key_typer.type(k.text);
        EXPECT_TRUE(standin::wait_until([&] { return np.text() == k.typed; }, 3000))
            << "\"" << k.text << "\" gave \"" << np.text() << "\"";
    }
    EXPECT_EQ(p.log().find("Key not delivered"), std::string::npos) << p.log();
}

}  // namespace
}  // namespace qn::wine_test
