// The demo library: a home folder with a friendly Messages history, for trying the program
// without a Mac at hand and for screenshots.

#include "fixturebuilder.h"

#include "testimages.h"

#include <QDir>
#include <QTimeZone>

#include <stdexcept>

namespace trovane::testsupport {

namespace detail {
// In fixturebuilder.cpp.
QString tapbackText(int type, const QString& target);
// A system message row (group renamed, member added…), from `from` (0: the account holder).
MessageRow systemRow(qint64 chat,
                     qint64 from,
                     qint64 date,
                     int itemType,
                     int action,
                     std::optional<QString> title,
                     qint64 other);
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray vcard(const QString& name, const QString& phone, const QString& email);
} // namespace detail

namespace {

// One exchange with Sam: lines starting "S:" are Sam's, "M:" are mine.
const char* const samExchanges[][8] = {
    {"S:Morning! Did you survive the move?", "M:Barely. So many boxes", "S:Need a hand this weekend?",
     "M:That would be amazing", "S:Saturday 10? I'll bring coffee"},
    {"M:Thanks again for today, couldn't have done it without you", "S:Anytime! The couch was a beast though",
     "M:Next dinner's on me"},
    {"S:Have you watched the new season yet?", "M:Two episodes in", "S:No spoilers but episode 4 😮",
     "M:Now I have to stay up tonight"},
    {"M:Trail run tomorrow?", "S:How early are we talking", "M:7:30 at the north gate",
     "S:Ugh fine. See you there"},
    {"S:That hill nearly finished me", "M:You did great", "S:My legs disagree", "M:Same time next week?",
     "S:Ask me again on Friday"},
    {"M:Any recommendations for a birthday gift for my sister?", "S:What is she into these days?",
     "M:Pottery, gardening, true crime podcasts", "S:A pottery class voucher! There's a studio on 5th",
     "M:Perfect, booking it"},
    {"S:Quick q: do you still have my blue cooler?", "M:Yes! Garage. I'll drop it off", "S:No rush"},
    {"M:Just tried that ramen place you mentioned", "S:And??", "M:Life changing",
     "S:Told you. Get the spicy miso next time"},
    {"S:Running late, 10 min", "M:No worries, grabbed a table by the window"},
    {"M:Are you coming to Priya's thing on Saturday?", "S:Which thing?", "M:Her housewarming, 6pm",
     "S:Oh right! Yes. Should I bring anything?", "M:Maybe a plant? She loves those"},
    {"S:Look at this view from the office today", "M:Wow, you can see the whole bay",
     "S:Almost makes up for the commute"},
    {"M:Can I borrow your drill this week?",
     "S:Sure, it's in the hall closet. Spare key's where it always is", "M:You're the best"},
    {"S:Game night Thursday?", "M:In. Who's hosting?", "S:Me. Bring snacks", "M:Chips and that dip you like"},
    {"M:I lost so badly last night", "S:Monopoly brings out the worst in people", "M:Never again",
     "S:You said that last time"},
    {"S:Have you booked flights for Thanksgiving?", "M:Not yet, prices are wild",
     "S:Tuesdays are cheaper apparently", "M:I'll check tonight"},
    {"M:Booked! Flying out on the 25th", "S:Nice. Same day as me", "M:Airport coffee together then"},
    {"S:Happy Friday!", "M:Finally", "S:Plans?", "M:Couch, pizza, sleep", "S:Living the dream"},
    {"M:Do you know a good mechanic?", "S:Luis on Pine St, tell him I sent you", "M:Thanks!"},
    {"S:Luis said you were very polite", "M:Ha! He fixed it in an hour", "S:He's the best"},
    {"M:Farmers market Sunday?", "S:Yes, I need apples for pie", "M:Meet at 9 by the fountain?", "S:Deal"},
    {"S:The pie was a success 🥧", "M:Save me a slice", "S:No promises"},
    {"M:Concert tickets go on sale tomorrow at 10", "S:Set an alarm. We are NOT missing it this time",
     "M:Two laptops, two phones, we've got this"},
    {"S:WE GOT THEM", "M:Row F!!!", "S:Best day", "M:Counting down already"},
    {"M:How's your mom doing?", "S:Much better, thanks for asking", "S:She's back to gardening already",
     "M:So glad to hear it"},
    {"S:Can you believe it's already November", "M:Where did October go", "S:No idea"},
    {"M:Thinking of getting a dog", "S:DO IT", "M:Small or big?", "S:Medium. The perfect compromise",
     "M:You're no help", "S:Send me pictures of every candidate"},
    {"S:Did you see the game last night?", "M:That last-second goal!",
     "S:I screamed so loud my neighbour knocked"},
    {"M:Soup weather today", "S:Making my grandma's chicken soup tonight", "M:Jealous",
     "S:Come over, there's plenty"},
    {"S:Thanks for coming over, that was fun", "M:Thank you for feeding me",
     "S:Take the leftovers next time"},
    {"M:Can you send me that podcast link?", "S:It's called Field Notes, episode 12",
     "M:Listening on the train tomorrow"},
    {"S:Wait did you finish the podcast", "M:The twist at the end!", "S:RIGHT?"},
    {"M:Heading to the hardware store, need anything?", "S:Lightbulbs, the warm ones", "M:On it"},
    {"S:My car won't start", "M:Want a ride to work?", "S:You're a lifesaver, 8:15?", "M:I'll be outside"},
    {"M:Rain check on lunch? Work is chaos", "S:Of course. Next week", "M:Wednesday?", "S:Wednesday it is"},
    {"S:Wednesday still good?", "M:Yes! Noon at the usual", "S:See you"},
    {"M:That sandwich place is getting a star from me", "S:Only one?", "M:Out of one. Perfect score"},
    {"S:Happy Thanksgiving week! Travel safe", "M:You too! See you at the gate"},
    {"M:Boarding now", "S:I'm at gate 22, come find me", "M:On my way"},
    {"S:Landed", "M:Same. Have a great holiday", "S:You too ❤️"},
    {"M:Home again. Full of turkey", "S:Same. Need a nap for a week", "M:Trail run Saturday to undo it all?",
     "S:Let's say Sunday"},
    {"S:Sunday run cancelled, it's pouring", "M:Brunch instead?", "S:Now you're talking"},
    {"M:Great brunch, thanks for suggesting it", "S:That French toast was unreal",
     "M:Already planning the next one"},
    {"S:Random thought: we should do a cabin trip in the spring", "M:YES", "S:I'll make a shared list",
     "M:I call the top bunk"},
    {"M:Found three cabins, sending links tonight", "S:Can't wait to see them",
     "M:The one by the lake looks perfect"},
    {"S:Lake cabin booked for April 🎉", "M:Best news all week", "S:Spring can't come soon enough"},
    {"M:Did you get home okay?", "S:Yep, all good. Thanks again for tonight", "M:Anytime"},
    {"S:Movie tonight or too tired?", "M:Too tired, sorry! Tomorrow?", "S:Tomorrow works"},
    {"M:Your recommendation was perfect, I cried twice", "S:Only twice? Amateur", "M:Ha"},
    {"S:Do you still have that lasagna recipe?", "M:Grandma's or the quick one?", "S:Grandma's, obviously",
     "M:Sending a photo of the card tonight", "S:You're a gem"},
    {"M:Power's out on our whole street", "S:Come over, we have lights and cookies", "M:Be there in 15"},
    {"S:Have you tried the new climbing gym?", "M:Not yet, is it good?", "S:The beginner wall is really fun",
     "M:Thursday after work?", "S:It's a date. Wear comfy shoes"},
    {"M:My arms are jelly", "S:That means it worked", "M:I couldn't open a jar this morning",
     "S:Ha! Again next week?", "M:Obviously"},
    {"S:Do you want my old bike? Getting a new one", "M:Seriously? I'd love it",
     "S:It's yours. Needs new tyres", "M:I'll sort it out, thank you!"},
    {"M:First ride on the bike today 🚲", "S:How did it go?", "M:Only fell off once",
     "S:That's a win in my book"},
    {"S:Book club picked your suggestion!", "M:No way, which one?", "S:The lighthouse one",
     "M:Great choice if I say so myself", "S:Humble as ever"},
    {"M:Finished the book in one weekend", "S:Same! That ending", "M:I need to talk about it with someone",
     "S:Coffee tomorrow, 8am?", "M:Yes please"},
};

struct Clock
{
    // A small LCG: deterministic minutes and gaps for the demo, identical on every machine.
    quint32 state = 20261130;
    int below(int n)
    {
        state = state * 1664525u + 1013904223u;
        return int((state >> 8) % quint32(n));
    }
};

// The account holder lives on the US west coast: hours are Pacific Standard Time (UTC−8).
qint64 when(const QDate& day, int hour, int minute, int second = 0)
{
    return appleNanos(QDateTime(day, QTime(hour, minute, second), QTimeZone(-8 * 3600))) +
           qint64((day.dayOfYear() * 7919 + minute * 613 + second * 37) % 997) * 1'000'000;
}

} // namespace

void writeDemoLibrary(const QString& homeFolder, const BodyEncoder& bodyEncoder)
{
    const QString messagesFolder = homeFolder + QStringLiteral("/Library/Messages");
    const QString attachmentsRoot = messagesFolder + QStringLiteral("/Attachments");
    if (!QDir().mkpath(attachmentsRoot))
        throw std::runtime_error("cannot create " + attachmentsRoot.toStdString());

    FixtureBuilder::Options options;
    options.bodyEncoder = bodyEncoder;
    options.seed = 2026'11'30;
    const QDate anchor(2026, 11, 30);
    Clock clock;

    FixtureBuilder::write(messagesFolder + QStringLiteral("/chat.db"), options, [&](FixtureBuilder& b) {
        const qint64 sam = b.addHandle(handleRow(QStringLiteral("+14155550148"), QStringLiteral("iMessage"),
                                                 QStringLiteral("us"), QStringLiteral("4155550148")));
        const qint64 mom = b.addHandle(handleRow(QStringLiteral("+14155550132")));
        const qint64 dad = b.addHandle(handleRow(QStringLiteral("+14155550177")));
        const qint64 emily = b.addHandle(handleRow(QStringLiteral("emily.carter@icloud.com")));
        const qint64 priya = b.addHandle(handleRow(QStringLiteral("priya.shah@example.com")));
        const qint64 marcus = b.addHandle(handleRow(QStringLiteral("+16465550190")));
        const qint64 jordan = b.addHandle(handleRow(QStringLiteral("jordan.kim@example.com")));
        const qint64 alex = b.addHandle(handleRow(QStringLiteral("+13125550163")));
        const qint64 nina = b.addHandle(
            handleRow(QStringLiteral("+447700900456"), QStringLiteral("iMessage"), QStringLiteral("gb")));
        const qint64 dentist = b.addHandle(handleRow(QStringLiteral("+15555550199"), QStringLiteral("SMS")));

        auto oneToOne = [&](qint64 who, const QString& service = QStringLiteral("iMessage")) {
            ChatRow chat;
            chat.participants = {who};
            chat.service = service;
            return b.addChat(chat);
        };
        auto group = [&](const QString& name, const QString& identifier, QList<qint64> members) {
            ChatRow chat;
            chat.style = 43;
            chat.displayName = name;
            chat.chatIdentifier = identifier;
            chat.participants = std::move(members);
            return b.addChat(chat);
        };
        const qint64 samChat = oneToOne(sam);
        const qint64 family = group(QStringLiteral("Carter Family 🏡"),
                                    QStringLiteral("chat402118736509821734"), {mom, dad, emily});
        const qint64 work = group(QStringLiteral("Falcon launch"), QStringLiteral("chat918273645564738291"),
                                  {priya, marcus, jordan, alex});
        const qint64 alexChat = oneToOne(alex);
        const qint64 ninaChat = oneToOne(nina);
        const qint64 dentistChat = oneToOne(dentist, QStringLiteral("SMS"));

        QHash<qint64, QString> texts;
        auto say = [&](qint64 chat, qint64 from, qint64 date, const QString& text,
                       const QString& service = QStringLiteral("iMessage")) {
            MessageRow m;
            m.chats = {chat};
            m.handle = from;
            m.fromMe = from == 0;
            m.date = date;
            m.text = text;
            m.service = service;
            const qint64 id = b.addMessage(m);
            texts.insert(id, text);
            return id;
        };
        auto react = [&](qint64 chat, qint64 from, qint64 date, int type, qint64 target) {
            MessageRow m;
            m.chats = {chat};
            m.handle = from;
            m.fromMe = from == 0;
            m.date = date;
            m.associatedType = type;
            m.associatedGuid = QStringLiteral("p:0/") + b.messageGuid(target);
            m.text = detail::tapbackText(type, texts.value(target));
            return b.addMessage(m);
        };
        auto system = [&](qint64 chat, qint64 from, qint64 date, int itemType, int action,
                          std::optional<QString> title, qint64 other) {
            return b.addMessage(
                detail::systemRow(chat, from, date, itemType, action, std::move(title), other));
        };
        int pictureNumber = 1;
        auto photo = [&](qint64 chat, qint64 from, qint64 date, const QString& caption, const QString& kind,
                         int orientation = 1) {
            MessageRow m;
            m.chats = {chat};
            m.handle = from;
            m.fromMe = from == 0;
            m.date = date;
            m.text = QString(u'\uFFFC') + caption;
            const qint64 message = b.addMessage(m);
            const int number = pictureNumber++;
            const QImage upright = testimages::picture(QSize(640, 480), number);
            QByteArray bytes;
            QString name, uti, mime;
            if (kind == u"heic") {
                bytes = testimages::heic(upright);
                name = QStringLiteral("IMG_%1.HEIC").arg(4100 + number);
                uti = QStringLiteral("public.heic");
                mime = QStringLiteral("image/heic");
            } else if (kind == u"png") {
                bytes = testimages::png(upright);
                name = QStringLiteral("IMG_%1.PNG").arg(4100 + number);
                uti = QStringLiteral("public.png");
                mime = QStringLiteral("image/png");
            } else {
                bytes = testimages::jpeg(testimages::storedForOrientation(upright, orientation), orientation);
                name = QStringLiteral("IMG_%1.JPG").arg(4100 + number);
                uti = QStringLiteral("public.jpeg");
                mime = QStringLiteral("image/jpeg");
            }
            AttachmentRow a;
            a.guid = b.newGuid();
            a.message = message;
            const QString relative = FixtureBuilder::attachmentRelativePath(a.guid, name);
            a.filename = FixtureBuilder::recordedFilename(relative);
            a.uti = uti;
            a.mimeType = mime;
            a.transferName = name;
            a.totalBytes = bytes.size();
            a.outgoing = from == 0;
            a.createdDate = date / nanosPerSecond;
            b.addAttachment(a);
            detail::writeFile(attachmentsRoot + u'/' + relative, bytes);
            return message;
        };

        // Sam: the long conversation, one or two exchanges a day over about eleven weeks.
        {
            QDate day = anchor.addDays(-80);
            int exchange = 0;
            const int exchanges = int(std::size(samExchanges));
            while (exchange < exchanges) {
                int hour = 8 + clock.below(4);
                const int today = 1 + clock.below(2);
                for (int e = 0; e < today && exchange < exchanges; ++e, ++exchange) {
                    int minute = clock.below(50);
                    qint64 last = 0;
                    bool lastMine = false;
                    for (const char* line : samExchanges[exchange]) {
                        if (!line)
                            break;
                        const bool mine = line[0] == 'M';
                        lastMine = mine;
                        minute += 1 + clock.below(4);
                        if (minute >= 60)
                            minute -= 60, ++hour;
                        last = say(samChat, mine ? 0 : sam,
                                   when(day, std::min(hour, 23), minute, clock.below(60)),
                                   QString::fromUtf8(line + 2));
                    }
                    // Now and then the last line gets a reaction from the other side.
                    if (clock.below(4) == 0) {
                        static const int kinds[] = {tapback::Love, tapback::Like, tapback::Laugh,
                                                    tapback::Emphasize};
                        react(samChat, lastMine ? sam : 0,
                              when(day, std::min(hour, 23), std::min(minute + 2, 59)), kinds[clock.below(4)],
                              last);
                    }
                    hour += 3 + clock.below(5);
                }
                day = day.addDays(1 + clock.below(3));
                if (day >= anchor)
                    day = anchor.addDays(-1);
            }
        }

        // The family group.
        {
            const QDate d = anchor.addDays(-30);
            system(family, emily, when(d, 17, 0), 2, 0, QStringLiteral("Carter Family 🏡"), 0);
            system(family, mom, when(d, 17, 1), 1, 0, std::nullopt, dad);
            const qint64 hello = say(family, dad, when(d, 17, 3), QStringLiteral("Is this thing on?"));
            react(family, emily, when(d, 17, 4), tapback::Laugh, hello);
            say(family, mom, when(d, 17, 5), QStringLiteral("Yes dear, we can all see you 😊"));
            say(family, 0, when(d, 17, 9), QStringLiteral("Welcome to the group chat, Dad!"));
            const qint64 plan =
                say(family, mom, when(d.addDays(2), 9, 12),
                    QStringLiteral("Thanksgiving at our place this year. Who's bringing what?"));
            say(family, emily, when(d.addDays(2), 9, 30),
                QStringLiteral("I'll do the pies! Pumpkin and apple"));
            say(family, 0, when(d.addDays(2), 10, 2),
                QStringLiteral("I'll bring rolls and the green bean thing"));
            say(family, dad, when(d.addDays(2), 10, 15),
                QStringLiteral("I'm on turkey duty. 18 pounds this year"));
            react(family, 0, when(d.addDays(2), 10, 16), tapback::Emphasize, plan);
            photo(family, mom, when(d.addDays(5), 15, 40),
                  QStringLiteral("The garden is finally done for the year"), QStringLiteral("heic"));
            say(family, emily, when(d.addDays(5), 15, 45), QStringLiteral("It looks beautiful Mom!"));
            say(family, 0, when(d.addDays(5), 16, 0), QStringLiteral("Love the new bench"));
            photo(family, emily, when(d.addDays(9), 19, 20), QStringLiteral("First pottery class 🏺"),
                  QStringLiteral("jpeg"), 6);
            const qint64 bowl =
                say(family, emily, when(d.addDays(9), 19, 21), QStringLiteral("It's supposed to be a bowl"));
            react(family, dad, when(d.addDays(9), 19, 30), tapback::Love, bowl);
            react(family, 0, when(d.addDays(9), 19, 31), tapback::Laugh, bowl);
            say(family, mom, when(d.addDays(9), 19, 40), QStringLiteral("I want one for the kitchen!"));
            say(family, dad, when(d.addDays(14), 8, 5),
                QStringLiteral("Flight info for everyone please, I'll do airport runs"));
            say(family, 0, when(d.addDays(14), 8, 30), QStringLiteral("Landing 4:45pm on the 25th, UA 1432"));
            say(family, emily, when(d.addDays(14), 9, 10), QStringLiteral("Driving up Wednesday morning"));
            say(family, dad, when(d.addDays(14), 9, 12), QStringLiteral("Got it 👍"));
            say(family, mom, when(d.addDays(20), 12, 0),
                QStringLiteral("Reminder: bring warm clothes, it's cold here"));
            say(family, emily, when(d.addDays(25), 16, 50), QStringLiteral("Here! Traffic was terrible"));
            say(family, dad, when(d.addDays(25), 17, 2), QStringLiteral("Outside arrivals, grey car"));
            say(family, 0, when(d.addDays(25), 17, 3), QStringLiteral("See you!"));
            photo(family, dad, when(d.addDays(26), 18, 30), QStringLiteral("The bird 🦃"),
                  QStringLiteral("jpeg"), 8);
            const qint64 feast =
                say(family, mom, when(d.addDays(26), 21, 0),
                    QStringLiteral("Thank you all for coming. Best Thanksgiving in years ❤️"));
            react(family, emily, when(d.addDays(26), 21, 2), tapback::Love, feast);
            react(family, 0, when(d.addDays(26), 21, 3), tapback::Love, feast);
            say(family, emily, when(d.addDays(28), 10, 0),
                QStringLiteral("Home safe. Already miss everyone"));
            say(family, 0, when(d.addDays(29), 20, 15), QStringLiteral("Same here. Christmas plans next?"));
            say(family, mom, when(d.addDays(29), 20, 40), QStringLiteral("Already on it 🎄"));
        }

        // The work group: an edit, an unsend, system rows.
        {
            const QDate d = anchor.addDays(-45);
            system(work, priya, when(d, 14, 0), 2, 0, QStringLiteral("Falcon launch"), 0);
            say(work, priya, when(d, 14, 1),
                QStringLiteral("Made a group for launch logistics so we stop losing things in email"));
            say(work, marcus, when(d, 14, 3), QStringLiteral("Thank you 🙏"));
            say(work, 0, when(d, 14, 5), QStringLiteral("Great idea"));
            const qint64 agenda =
                say(work, jordan, when(d.addDays(1), 9, 0),
                    QStringLiteral("Draft agenda for Thursday's review is in the shared folder"));
            react(work, priya, when(d.addDays(1), 9, 3), tapback::Like, agenda);
            react(work, 0, when(d.addDays(1), 9, 4), tapback::Like, agenda);
            {
                MessageRow m;
                m.chats = {work};
                m.fromMe = true;
                m.date = when(d.addDays(1), 9, 20);
                m.text = QStringLiteral("I can present the budget section, 15 minutes is enough");
                m.dateEdited = *m.date + 35 * nanosPerSecond;
                b.addMessage(m);
            }
            say(work, marcus, when(d.addDays(1), 9, 25), QStringLiteral("I'll take the demo"));
            say(work, priya, when(d.addDays(3), 16, 10),
                QStringLiteral("Review went really well, thanks everyone"));
            say(work, jordan, when(d.addDays(3), 16, 12), QStringLiteral("The demo gods were kind today"));
            say(work, marcus, when(d.addDays(3), 16, 14), QStringLiteral("Only one browser crash 😅"));
            static const char* const week[] = {"Launch date confirmed: November 18",
                                               "Press kit draft is ready for comments",
                                               "Can someone check the pricing page copy?",
                                               "On it",
                                               "Found two typos, fixed",
                                               "Legal signed off on the terms",
                                               "Huge",
                                               "Support team training is Friday at 2",
                                               "I'll send the slides tonight",
                                               "Status: everything green except the app store review",
                                               "Apple approved the build!",
                                               "Let's gooo",
                                               "Reminder: freeze at 5pm today",
                                               "Freeze is in. Nobody touch anything",
                                               "T-minus one day",
                                               "Good luck everyone tomorrow",
                                               "We're live 🚀",
                                               "Signups are way ahead of forecast",
                                               "Incredible work team",
                                               "Retro next Tuesday, bring snacks",
                                               "Cake has been ordered",
                                               "What flavour?",
                                               "Chocolate, obviously",
                                               "Correct answer"};
            const qint64 who[] = {priya, marcus, jordan, 0};
            qint64 live = 0;
            for (int i = 0; i < int(std::size(week)); ++i) {
                const qint64 id = say(work, who[(i * 3 + 1) % 4], when(d.addDays(6 + i), 10 + i % 7, 5 + i),
                                      QString::fromUtf8(week[i]));
                if (i == 16)
                    live = id;
            }
            react(work, priya, when(d.addDays(22), 10, 30), tapback::Emphasize, live);
            react(work, marcus, when(d.addDays(22), 10, 31), tapback::Love, live);
            react(work, 0, when(d.addDays(22), 10, 32), tapback::Love, live);
            {
                MessageRow m;
                m.chats = {work};
                m.fromMe = true;
                m.date = when(d.addDays(31), 11, 0);
                m.text = QString();
                m.storage = BodyStorage::TextOnly;
                m.dateRetracted = *m.date + 50 * nanosPerSecond;
                b.addMessage(m);
            }
            say(work, 0, when(d.addDays(31), 11, 1),
                QStringLiteral("Sorry, wrong chat! See you all at the retro"));
            system(work, priya, when(d.addDays(33), 9, 0), 1, 0, std::nullopt, alex);
            say(work, priya, when(d.addDays(33), 9, 1),
                QStringLiteral("Welcome Alex! Alex is joining from design"));
            say(work, alex, when(d.addDays(33), 9, 10), QStringLiteral("Hi all, happy to be here 👋"));
        }

        // Alex: pictures in every format.
        {
            const QDate d = anchor.addDays(-10);
            say(alexChat, alex, when(d, 12, 0), QStringLiteral("Back from the coast! So many photos"));
            say(alexChat, 0, when(d, 12, 5), QStringLiteral("Send them all"));
            photo(alexChat, alex, when(d, 12, 7), QString(), QStringLiteral("jpeg"), 6);
            photo(alexChat, alex, when(d, 12, 8), QStringLiteral("The lighthouse"), QStringLiteral("jpeg"),
                  8);
            const qint64 sunset = photo(alexChat, alex, when(d, 12, 9),
                                        QStringLiteral("Sunset on the last night"), QStringLiteral("heic"));
            react(alexChat, 0, when(d, 12, 12), tapback::Love, sunset);
            say(alexChat, 0, when(d, 12, 13), QStringLiteral("These are stunning. Which camera?"));
            say(alexChat, alex, when(d, 12, 20), QStringLiteral("Just my phone!"));
            photo(alexChat, 0, when(d.addDays(2), 18, 40), QStringLiteral("My attempt at the same thing"),
                  QStringLiteral("png"));
            const qint64 attempt =
                say(alexChat, alex, when(d.addDays(2), 18, 45), QStringLiteral("Not bad at all!"));
            react(alexChat, 0, when(d.addDays(2), 18, 46), tapback::Laugh, attempt);
            say(alexChat, alex, when(d.addDays(5), 9, 30),
                QStringLiteral("Coffee before the design review?"));
            say(alexChat, 0, when(d.addDays(5), 9, 31),
                QStringLiteral("Yes please. 10 at the corner place?"));
            say(alexChat, alex, when(d.addDays(5), 9, 32), QStringLiteral("See you there"));
            photo(alexChat, alex, when(d.addDays(9), 15, 0), QStringLiteral("New desk setup"),
                  QStringLiteral("jpeg"), 1);
            say(alexChat, 0, when(d.addDays(9), 15, 10), QStringLiteral("So tidy! Give it a week"));
        }

        // Nina: short, across time zones.
        {
            const QDate d = anchor.addDays(-6);
            say(ninaChat, nina, when(d, 7, 0),
                QStringLiteral("Good morning from London! Well, afternoon for me"));
            say(ninaChat, 0, when(d, 15, 0), QStringLiteral("Morning! How was the conference?"));
            say(ninaChat, nina, when(d, 15, 20),
                QStringLiteral("Exhausting but brilliant. Met loads of people"));
            const qint64 visit =
                say(ninaChat, nina, when(d, 15, 21), QStringLiteral("Still planning to visit in March?"));
            say(ninaChat, 0, when(d, 15, 30), QStringLiteral("Yes! Looking at flights this weekend"));
            react(ninaChat, nina, when(d, 15, 31), tapback::Love, visit);
            say(ninaChat, nina, when(d.addDays(3), 18, 0), QStringLiteral("Sending you my flat's address"));
            say(ninaChat, nina, when(d.addDays(3), 18, 1), QStringLiteral("14 Maple Court, Flat 3, London"));
            say(ninaChat, 0, when(d.addDays(3), 18, 5), QStringLiteral("Saved, thank you ✨"));
        }

        // An SMS reminder.
        {
            const QDate d = anchor.addDays(-2);
            say(dentistChat, dentist, when(d, 16, 0),
                QStringLiteral("Bright Smile Dental: reminder of your appointment on Dec 3 at 9:00 AM. Reply "
                               "C to confirm."),
                QStringLiteral("SMS"));
            say(dentistChat, 0, when(d, 16, 5), QStringLiteral("C"), QStringLiteral("SMS"));
            say(dentistChat, dentist, when(d, 16, 5, 30),
                QStringLiteral("Thank you, your appointment is confirmed."), QStringLiteral("SMS"));
        }
        // The last word of the history, on the anchor day.
        say(samChat, sam, when(anchor, 14, 0),
            QStringLiteral("Cabin packing list is up, add whatever I forgot!"));
    });
}

} // namespace trovane::testsupport
