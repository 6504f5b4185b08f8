// N_("text") marks an English text of the core that a front end shows to the
// user and may translate. Here it is the text itself: the core makes no
// choice of language. xgettext collects the marked texts (--keyword=N_) into
// the catalogue, and a front end looks them up where it prints them.
#ifndef TARVEL_PLATFORM_TRANSLATABLE_H_
#define TARVEL_PLATFORM_TRANSLATABLE_H_

#define N_(text) text

#endif  // TARVEL_PLATFORM_TRANSLATABLE_H_
