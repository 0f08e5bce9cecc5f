#!/usr/bin/python3
# A GTK application printing: Gtk.PrintOperation sends pages to a CUPS queue without a dialog,
# each page carrying one line of text drawn through Pango, as GTK programs print.
#   gtk_print.py QUEUE TITLE TEXT [TEXT...]   (one page per TEXT)
# Exit 0 once GTK has handed the job to CUPS, 1 when the print failed or did not end in time.
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("PangoCairo", "1.0")
from gi.repository import GLib, Gtk, Pango, PangoCairo  # noqa: E402


def main():
    if len(sys.argv) < 4:
        print("usage: gtk_print.py QUEUE TITLE TEXT [TEXT...]", file=sys.stderr)
        return 2
    queue, title, texts = sys.argv[1], sys.argv[2], sys.argv[3:]
    Gtk.init_check(sys.argv)  # no display is needed to print
    settings = Gtk.PrintSettings()
    settings.set_printer(queue)
    op = Gtk.PrintOperation()
    op.set_print_settings(settings)
    op.set_job_name(title)
    op.set_n_pages(len(texts))

    def draw_page(operation, context, page):
        cr = context.get_cairo_context()
        layout = context.create_pango_layout()
        layout.set_font_description(Pango.FontDescription("Sans Bold 28"))
        layout.set_text(texts[page], -1)
        cr.set_source_rgb(0, 0, 0)
        cr.move_to(36, 36)
        PangoCairo.show_layout(cr, layout)

    op.connect("draw-page", draw_page)
    result = op.run(Gtk.PrintOperationAction.PRINT, None)
    if result == Gtk.PrintOperationResult.ERROR:
        print("gtk_print: the print failed", file=sys.stderr)
        return 1
    # The job goes to CUPS from the main loop: wait until GTK says it has been handed over.
    context = GLib.MainContext.default()
    timed_out = []
    GLib.timeout_add_seconds(120, lambda: timed_out.append(True) and False)
    while not op.is_finished() and not timed_out:
        context.iteration(True)
    if op.get_status() != Gtk.PrintStatus.FINISHED:
        print("gtk_print: status " + str(op.get_status()) + " " + op.get_status_string(), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
