// Pack matching on generated lots: the matcher beside the sorted snake, the
// usual hand method, on the same cells.
#include "benchsupport.h"
#include "lotgenerator.h"

#include <QElapsedTimer>

#include <cstdio>

namespace bench {

int packMatching()
{
    struct Case
    {
        int cells, series, parallel;
        double limitSeconds;
        double rSigmaPct;
        bool ratioTarget; // the matcher at most a tenth of the snake's spread
        quint32 seeds;
    };
    // The targets' two sizes on lots of the usual spread, and the larger one
    // on a lot twice as wide, where the ΔR rule binds groups at its tails.
    // A fleet's lot of 50,000 cells into the small and the large pack: there
    // the snake too finds close cells, so only the time is a target (the
    // spreads are printed beside the snake's).
    const Case cases[] = {{400, 16, 20, 2.0, 1.2, true, 5}, {2000, 96, 20, 10.0, 1.2, true, 5},
                          {2000, 96, 20, 10.0, 2.5, false, 5}, {50000, 16, 20, 5.0, 1.2, false, 2},
                          {50000, 96, 20, 5.0, 1.2, false, 2}};
    int failures = 0;
    std::printf("match: lot → pack, 5 seeds each (2 for 50,000 cells); spread = (max − min) / mean of the groups' R_g\n");
    for (const Case &c : cases) {
        double worstSeconds = 0, worstRatio = 0, worstSpread = 0, worstSnake = 1e9;
        int snakeBreaking = 0, planBreaking = 0, failed = 0;
        for (quint32 seed = 1; seed <= c.seeds; ++seed) {
            LotShape shape;
            shape.cells = c.cells;
            shape.seed = seed;
            shape.rSigmaPct = c.rSigmaPct;
            match::Rules rules;
            rules.series = c.series;
            rules.parallel = c.parallel;
            const match::Choice choice = usableCells(generateLot(shape), rules);
            QElapsedTimer clock;
            clock.start();
            const match::Plan plan = match::matchCells(choice.usable, rules, seed);
            const double seconds = clock.nsecsElapsed() / 1e9;
            const match::Plan snake = match::snakePlan(choice.usable, rules);
            if (!plan.ok) {
                ++failed;
                std::printf("  seed %u: no plan: %s\n", seed, qPrintable(plan.problem));
                continue;
            }
            worstSeconds = std::max(worstSeconds, seconds);
            worstSpread = std::max(worstSpread, plan.rgSpread);
            worstSnake = std::min(worstSnake, snake.rgSpread);
            worstRatio = std::max(worstRatio, plan.rgSpread / snake.rgSpread);
            snakeBreaking += snake.groupsBreakingRules;
            planBreaking += plan.groupsBreakingRules;
            std::printf("  %4d cells → %2dS×%dP seed %u: %d usable, %.2f s, matcher %.5f %% vs snake %.5f %% (ratio %.4f); "
                        "snake groups breaking the rules %d of %d\n",
                        c.cells, c.series, c.parallel, seed, int(choice.usable.size()), seconds, plan.rgSpread * 100,
                        snake.rgSpread * 100, plan.rgSpread / snake.rgSpread, snake.groupsBreakingRules, c.series);
        }
        // On the wide lot the snake's groups break the rules: its spread is no
        // bar to measure against, and only speed and the rules are checked.
        const bool ok = failed == 0 && planBreaking == 0 && worstSeconds < c.limitSeconds && (!c.ratioTarget || worstRatio <= 0.1);
        std::printf("%-6s %4d cells (σR %.1f %%) → %dS×%dP: slowest %.2f s (target < %.0f s), worst spread %.5f %%, at most %.3f of "
                    "the snake's; snake broke the rules in %d of %d groups\n",
                    ok ? "ok" : "MISSED", c.cells, c.rSigmaPct, c.series, c.parallel, worstSeconds, c.limitSeconds, worstSpread * 100,
                    worstRatio, snakeBreaking, int(c.seeds) * c.series);
        failures += !ok;
    }
    return failures;
}

} // namespace bench
