/* Must not compile: a C11 construct under the strict C99 flags shows that
 * those flags reject what C99 lacks. */
_Static_assert(1, "C11 only");

int main(void)
{
    return 0;
}
