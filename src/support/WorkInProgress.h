#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <memory>

// The runs under way that move photos (filing, a card import), whichever thread
// runs them and whether or not their sheet is still open. Quitting asks about
// them and waits for their safe point instead of leaving a process running with
// no window, or stopping one with a photo between two places.
class WorkInProgress
{
public:
    struct Item
    {
        QString what; // "Filing", "A card import"
        QString whatQuittingDoes; // one sentence for the question
    };

    // Registered while it lives or until released (on any thread) when the run is over.
    class Token
    {
    public:
        ~Token();
        Token(const Token &) = delete;
        Token &operator=(const Token &) = delete;
        // Ends the registration now (the destructor does it too).
        void release() const;

    private:
        friend class WorkInProgress;
        explicit Token(quint64 id)
            : m_id(id)
        { }
        quint64 m_id;
    };

    // stopAtSafePoint is called once, on the quitting thread, when the operator
    // quits: the run then ends at its next safe point (or runs to its end where it
    // has none sooner). It must not block.
    static std::unique_ptr<Token> begin(const Item &item, std::function<void()> stopAtSafePoint = {});
    static QList<Item> running();
    static void stopAllAtSafePoint();
};
