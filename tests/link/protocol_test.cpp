// The tower protocol's frames: what the server's messages are taken as, and
// the exact messages the client sends.
#include <gtest/gtest.h>

#include "link/protocol.h"
#include "link/resolve.h"

namespace {

using namespace qn::link;

TEST(Frames, EngineIoAndSocketIoPacketsOfAServerSession) {
    const Frame open = parse_frame(R"(0{"sid":"Ab1","upgrades":[],"pingTimeout":20000,"pingInterval":25000})");
    ASSERT_EQ(open.kind, FrameKind::Open);
    EXPECT_EQ(open.open.sid, "Ab1");
    EXPECT_EQ(open.open.ping_interval_ms, 25000);
    EXPECT_EQ(open.open.ping_timeout_ms, 20000);

    EXPECT_EQ(parse_frame("2").kind, FrameKind::Ping);
    EXPECT_EQ(parse_frame("2probe").text, "probe");
    EXPECT_EQ(parse_frame("1").kind, FrameKind::Close);
    EXPECT_EQ(parse_frame("6").kind, FrameKind::Noop);
    const Frame connected = parse_frame(R"(40{"sid":"X9"})");
    EXPECT_EQ(connected.kind, FrameKind::Connected);
    EXPECT_EQ(connected.text, "X9");
    EXPECT_EQ(parse_frame("41").kind, FrameKind::Disconnect);
    const Frame refused = parse_frame(R"(44{"message":"Not authorized"})");
    EXPECT_EQ(refused.kind, FrameKind::ConnectError);
    EXPECT_EQ(refused.text, "Not authorized");

    const Frame ev = parse_frame(R"(42["s_call",{"call":"Bob","tower_id":5}])");
    ASSERT_EQ(ev.kind, FrameKind::Event);
    EXPECT_EQ(ev.name, "s_call");
    EXPECT_EQ(ev.data["call"], "Bob");
    // An event with an ack id, and one of another namespace.
    EXPECT_EQ(parse_frame(R"(4212["s_call",{"call":"Go"}])").kind, FrameKind::Event);
    EXPECT_EQ(parse_frame(R"(42/admin,["s_call",{}])").kind, FrameKind::Ignored);
    EXPECT_EQ(parse_frame(R"(42/,["s_call",{"call":"Go"}])").kind, FrameKind::Event);
    EXPECT_EQ(parse_frame("451-[\"x\",{\"_placeholder\":true,\"num\":0}]").kind, FrameKind::Ignored);
    EXPECT_EQ(parse_frame("43[]").kind, FrameKind::Ignored);
}

TEST(Frames, TruncatedWrongAndHostileMessagesAreMalformedNotFatal) {
    const char* bad[] = {
        "",                                 // nothing
        "9",                                // no such Engine.IO type
        "0",                                // open without a payload
        "0{\"sid\":5,\"pingInterval\":1,\"pingTimeout\":1}",
        "0{\"sid\":\"a\",\"pingInterval\":\"25000\",\"pingTimeout\":20000}",
        "0{\"sid\":\"a\",\"pingInterval\":-5,\"pingTimeout\":20000}",
        "0{\"sid\":\"a\",\"pingInterval\":25000}",
        "4",                                // message without a Socket.IO packet
        "47",                               // no such Socket.IO type
        "42",                               // event without payload
        "42[",                              // truncated
        "42[\"s_bell_rung\",{\"who_rang\":",  // truncated further in
        "42{}",                             // not a list
        "42[]",                             // no name
        "42[5,{}]",                         // name not a string
        "42[\"a\"\xff\xfe]",                // not UTF-8
        "40[1,2]",                          // connect payload not an object
    };
    for (const char* m : bad) EXPECT_EQ(parse_frame(m).kind, FrameKind::Malformed) << m;
    // Deep nesting is refused before the parser sees it.
    const std::string deep = "42[\"x\"," + std::string(100000, '[') + std::string(100000, ']') + "]";
    EXPECT_EQ(parse_frame(deep).kind, FrameKind::Malformed);
}

TEST(Frames, TheClientsMessagesSendTheTowerAsAnIntegerAndTheStrokeAsABoolean) {
    EXPECT_EQ(join_frame(123456789, ""),
              R"(42["c_join",{"anonymous_user":true,"tower_id":123456789,"user_token":""}])");
    EXPECT_EQ(join_frame(123456789, "tok"),
              R"(42["c_join",{"anonymous_user":false,"tower_id":123456789,"user_token":"tok"}])");
    EXPECT_EQ(request_state_frame(42), R"(42["c_request_global_state",{"tower_id":42}])");
    EXPECT_EQ(bell_frame(123456789, 5, true), R"(42["c_bell_rung",{"bell":5,"stroke":true,"tower_id":123456789}])");
    EXPECT_EQ(bell_frame(1, 12, false), R"(42["c_bell_rung",{"bell":12,"stroke":false,"tower_id":1}])");
    EXPECT_EQ(call_frame(7, "That's all"), R"(42["c_call",{"call":"That's all","tower_id":7}])");
    EXPECT_EQ(user_left_frame(7, ""), R"(42["c_user_left",{"anonymous_user":true,"tower_id":7,"user_token":""}])");
    EXPECT_EQ(assign_frame(7, 3, 12), R"(42["c_assign_user",{"bell":3,"tower_id":7,"user":12}])");
}

TEST(TowerEvents, BellRungAndStateAreCheckedFieldByField) {
    TowerEvent e = interpret_event(
        parse_frame(R"(42["s_bell_rung",{"global_bell_state":[true,false,true],"who_rang":2,"disagree":true}])"));
    ASSERT_EQ(e.kind, EventKind::BellRung);
    EXPECT_EQ(e.who_rang, 2);
    EXPECT_TRUE(e.disagree);
    EXPECT_EQ(e.bell_state, (std::vector<bool>{true, false, true}));

    e = interpret_event(parse_frame(R"(42["s_global_state",{"global_bell_state":[true,true,true,true,true,true]}])"));
    ASSERT_EQ(e.kind, EventKind::GlobalState);
    EXPECT_EQ(e.bell_state.size(), 6u);
    EXPECT_EQ(interpret_event(parse_frame(R"(42["s_bad_token",{}])")).kind, EventKind::BadToken);
    EXPECT_EQ(interpret_event(parse_frame(R"(42["s_set_userlist",{"user_list":{}}])")).kind, EventKind::Other);
    e = interpret_event(parse_frame(R"(42["s_host_mode",{"tower_id":5,"new_mode":true}])"));
    EXPECT_TRUE(e.kind == EventKind::HostMode && e.host_mode);
    e = interpret_event(parse_frame(R"(42["s_assign_user",{"bell":4,"user":7}])"));
    EXPECT_TRUE(e.kind == EventKind::Assigned && e.bell == 4 && e.user_id == 7);
    e = interpret_event(parse_frame(R"(42["s_assign_user",{"bell":4,"user":""}])"));  // unassigned
    EXPECT_TRUE(e.kind == EventKind::Assigned && e.user_id == 0);
    e = interpret_event(parse_frame(
        R"(42["s_set_userlist",{"user_list":[{"user_id":3,"username":"ann"},{"user_id":9,"username":"bo"}]}])"));
    ASSERT_EQ(e.kind, EventKind::UserEntered);
    EXPECT_EQ(e.users, (std::vector<std::pair<std::int64_t, std::string>>{{3, "ann"}, {9, "bo"}}));

    const char* invalid[] = {
        R"(42["s_bell_rung",{"global_bell_state":[true],"who_rang":"1"}])",
        R"(42["s_bell_rung",{"global_bell_state":[true],"who_rang":17}])",
        R"(42["s_bell_rung",{"global_bell_state":[true],"who_rang":0}])",
        R"(42["s_bell_rung",{"global_bell_state":[1,0],"who_rang":1}])",
        R"(42["s_bell_rung",{"who_rang":1}])",
        R"(42["s_bell_rung",[1,2]])",
        R"(42["s_bell_rung"])",
        R"(42["s_global_state",{"global_bell_state":"all"}])",
        R"(42["s_global_state",{"global_bell_state":[true,true,true,true,true,true,true,true,true,true,true,true,true,true,true,true,true]}])",
        R"(42["s_call",{"call":3}])",
        R"(42["s_host_mode",{"new_mode":1}])",
        R"(42["s_assign_user",{"bell":17,"user":1}])",
        R"(42["s_assign_user",{"bell":2,"user":"ann"}])",
        R"(42["s_user_entered",{"username":"ann"}])",
        R"(42["s_set_userlist",{"user_list":[{"user_id":"3","username":"ann"}]}])",
    };
    for (const char* m : invalid) EXPECT_EQ(interpret_event(parse_frame(m)).kind, EventKind::Invalid) << m;
}

TEST(TowerEvents, CallKeysAreRingingRoomsCalls) {
    EXPECT_STREQ(call_for_key('b'), "Bob");
    EXPECT_STREQ(call_for_key('N'), "Single");
    EXPECT_STREQ(call_for_key('g'), "Go");
    EXPECT_STREQ(call_for_key('h'), "That's all");
    EXPECT_STREQ(call_for_key('t'), "Stand next");
    EXPECT_STREQ(call_for_key('l'), "Look to");
    EXPECT_EQ(call_for_key('5'), nullptr);
    EXPECT_EQ(call_for_key('P'), nullptr);
}

TEST(ServerAddress, FromTheTowerPageToTheSocketUrl) {
    const std::string page = "<script>\n window.tower_parameters = {\n  id: parseInt(123),\n"
                             "  server_ip: \"https://sea.ringingroom.com\",\n };</script>";
    EXPECT_EQ(server_on_page(page), "https://sea.ringingroom.com");
    EXPECT_EQ(server_on_page("no address here"), "");
    EXPECT_EQ(server_on_page("server_ip: \"unterminated"), "");
    EXPECT_EQ(socket_url_for("https://sea.ringingroom.com"),
              "wss://sea.ringingroom.com/socket.io/?EIO=4&transport=websocket");
    EXPECT_EQ(socket_url_for("https://ringingroom.com/"), "wss://ringingroom.com/socket.io/?EIO=4&transport=websocket");
    EXPECT_EQ(socket_url_for("http://localhost:8080/x"), "ws://localhost:8080/socket.io/?EIO=4&transport=websocket");
    EXPECT_EQ(socket_url_for("javascript:alert(1)"), "");
    EXPECT_EQ(socket_url_for("https://evil\"host/"), "");
    EXPECT_EQ(normal_site("https://ringingroom.com/"), "https://ringingroom.com");
    EXPECT_EQ(normal_site("ringingroom.com"), "");
    EXPECT_EQ(base64("a@b.c:pw"), "YUBiLmM6cHc=");
    EXPECT_EQ(base64("ab"), "YWI=");
    EXPECT_EQ(base64("abc"), "YWJj");
}

}  // namespace
