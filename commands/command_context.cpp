#include "commands/command_context.h"

WorkerGate::Pump WaitPump(CommandContext &ctx) {
    if (ctx.pump) return ctx.pump;
    IClock &clock = ctx.platform.clock;
    return [&clock](uint32_t milliseconds) { clock.SleepMs(milliseconds); };
}
