/* Messaging for i386 (System V): the receiver's class cache is probed in
   place; a miss asks nextpdo_lookup, which fills the cache. Either way the
   implementation is entered by a jump, with the caller's arguments and
   return address untouched.

   Cache layout: mask at 0, occupied at 4, buckets from 8; a bucket holds a
   method record (selector at 0, implementation at 8) or null. A class keeps
   its cache at offset 32. */

        .text

        .hidden nextpdo_lookup
        .hidden nextpdo_forward
        .globl  nextpdo_msgForward
        .hidden nextpdo_msgForward
        .globl  nextpdo_msgForward_stret
        .hidden nextpdo_msgForward_stret

/* Leaves the implementation in %eax. SELF and OP are the stack offsets of
   receiver and selector at entry; the receiver is known not to be nil.
   The slow path calls with the stack 16-byte aligned, given that it was
   at the caller's call. */
.macro  FIND_IMP self, op, done
        movl    \self(%esp), %eax
        movl    (%eax), %eax            /* class */
        movl    32(%eax), %edx          /* cache */
        movl    \op(%esp), %ecx         /* selector */
        testl   %edx, %edx
        je      3f
        pushl   %esi
        movl    %ecx, %esi
        andl    (%edx), %esi            /* first bucket */
1:      movl    8(%edx,%esi,4), %eax
        testl   %eax, %eax
        je      2f                      /* empty bucket: miss */
        cmpl    (%eax), %ecx
        je      4f
        incl    %esi
        andl    (%edx), %esi
        jmp     1b
4:      popl    %esi
        movl    8(%eax), %eax
        jmp     \done
2:      popl    %esi
3:      movl    \self(%esp), %eax
        movl    (%eax), %eax
        subl    $4, %esp
        pushl   %ecx
        pushl   %eax
        call    nextpdo_lookup
        addl    $12, %esp
.endm

/* id objc_msgSend(id self, SEL op, ...) */
        .globl  objc_msgSend
        .type   objc_msgSend, @function
        .p2align 4
objc_msgSend:
        cmpl    $0, 4(%esp)
        je      .Lnil
        FIND_IMP 4, 8, .Lgo
.Lgo:
        jmp     *%eax
.Lnil:
        xorl    %eax, %eax
        xorl    %edx, %edx
        ret
        .size   objc_msgSend, .-objc_msgSend

/* double objc_msgSend_fpret(id self, SEL op, ...): as objc_msgSend, but a
   nil receiver answers 0.0 on the x87 stack, where the caller pops it. */
        .globl  objc_msgSend_fpret
        .type   objc_msgSend_fpret, @function
        .p2align 4
objc_msgSend_fpret:
        cmpl    $0, 4(%esp)
        je      .Lnil_fp
        FIND_IMP 4, 8, .Lgo_fp
.Lgo_fp:
        jmp     *%eax
.Lnil_fp:
        fldz
        xorl    %eax, %eax
        xorl    %edx, %edx
        ret
        .size   objc_msgSend_fpret, .-objc_msgSend_fpret

/* void objc_msgSend_stret(void *result, id self, SEL op, ...): the callee
   pops the result pointer. A nil receiver leaves the result untouched. The
   forwarding implementation is swapped for one that pops it too. */
        .globl  objc_msgSend_stret
        .type   objc_msgSend_stret, @function
        .p2align 4
objc_msgSend_stret:
        cmpl    $0, 8(%esp)
        je      .Lnil_stret
        FIND_IMP 8, 12, .Lgo_stret
.Lgo_stret:
        call    .Lpc
.Lpc:   popl    %ecx
        addl    $(nextpdo_msgForward - .Lpc), %ecx
        cmpl    %ecx, %eax
        jne     .Ljump_stret
        addl    $(nextpdo_msgForward_stret - nextpdo_msgForward), %eax
.Ljump_stret:
        jmp     *%eax
.Lnil_stret:
        movl    4(%esp), %eax
        ret     $4
        .size   objc_msgSend_stret, .-objc_msgSend_stret

/* id _objc_msgForward(id self, SEL op, ...): the implementation cached for
   messages that nothing implements. The runtime hands out the hidden
   name, whose address no executable can take over. */
        .globl  _objc_msgForward
        .type   _objc_msgForward, @function
        .type   nextpdo_msgForward, @function
        .p2align 4
_objc_msgForward:
nextpdo_msgForward:
        jmp     nextpdo_forward
        .size   _objc_msgForward, .-_objc_msgForward
        .size   nextpdo_msgForward, .-nextpdo_msgForward

/* The same for a message sent with objc_msgSend_stret. */
        .type   nextpdo_msgForward_stret, @function
        .p2align 4
nextpdo_msgForward_stret:
        movl    8(%esp), %eax
        movl    12(%esp), %ecx
        subl    $4, %esp
        pushl   %ecx
        pushl   %eax
        call    nextpdo_forward
        addl    $12, %esp
        movl    4(%esp), %eax
        ret     $4
        .size   nextpdo_msgForward_stret, .-nextpdo_msgForward_stret

        .section .note.GNU-stack,"",@progbits
