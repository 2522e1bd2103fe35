// TextFunctions, splitting: fields at one delimiter character, and tokens at
// runs of delimiter characters through the runtime's strtok.
//
// Threading: SplitAtChar and SplitAtCharMax work only on their arguments.
// Tokenise, TokeniseMax and their second names keep their position in
// strtok's hidden state: one tokenising run at a time per process, never
// interleaved with another strtok user.
#pragma once

// Splits text in place at every occurrence of delimiter[0] (only the first
// character of delimiter counts), storing a terminator over each and a
// pointer to each field in fields. Consecutive delimiters give empty fields,
// a trailing delimiter an empty last field; no null entry follows the last
// field. Returns the number of fields; 0 when text or fields is null.
int SplitAtChar(char* text, const char* delimiter, char** fields);
// As SplitAtChar, splitting at most max times: fields needs max + 1 entries
// and the text after the last split stays whole, delimiters included.
int SplitAtCharMax(char* text, const char* delimiter, char** fields, int max);

// Cuts text in place into tokens separated by runs of the characters of
// delimiters, storing them in tokens followed by a null entry (tokens needs
// one entry more than the number of tokens). Returns the number of tokens,
// except that a text without any token also returns 1, with tokens[0] and
// tokens[1] null; callers test tokens[0]. Null text or tokens: 0.
int Tokenise(char* text, const char* delimiters, char** tokens);
// As Tokenise, but stops after tokens[max]: a text of k tokens, 1 <= k <=
// max, gives k and a null tokens[k]; a longer text fills tokens[0..max] with
// max + 1 tokens, no null entry, and returns max. tokens needs max + 1
// entries. A negative max writes nothing and returns 0; max 0 on a text
// without tokens writes only tokens[0] (null) and returns 1.
int TokeniseMax(char* text, const char* delimiters, char** tokens, int max);

// Second names of the two tokenisers, for callers written against them.
int Tokenize(char* text, const char* delimiters, char** tokens);
int TokenizeMax(char* text, const char* delimiters, char** tokens, int max);

extern const char g_szTokeniseRevision[];
